#!/usr/bin/env bash
# Builds the i686 release (build/i686) and packs it into
# build/package/IxaLoader-<version>-win32.zip. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
IXA_ARCH=i686 "$root/scripts/build.sh"
out=$root/build/package
rm -rf "$out"
mkdir -p "$out"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! (cd "$out" && cpack --config "$root/build/i686/CPackConfig.cmake" -B "$out") >"$log" 2>&1; then
  cat "$log" >&2
  echo "package: cpack failed" >&2
  exit 1
fi
rm -rf "$out/_CPack_Packages"
echo "package: $(ls "$out"/IxaLoader-*-win32.zip) and its .sha256"
