#!/usr/bin/env bash
# Checks the release package: unpacks it, verifies SHA256SUMS and the
# contents, and builds a small C host against the package alone with the
# i686 cross compiler, once linked with the MinGW import library and once
# with the MSVC one. Runs both hosts where the kernel runs 32-bit programs.
#   tests/package/check_package.sh build/package/IxaLoader-<version>-win32.zip
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/arches.sh"
zip=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-package: $*" >&2
  exit 1
}

unzip -q "$zip" -d "$work"
cd "$work/$(basename "$zip" .zip)" || fail "the archive has no folder $(basename "$zip" .zip)"
sha256sum --quiet --strict -c SHA256SUMS || fail "SHA256SUMS does not match"
[ "$(find . -type f ! -name SHA256SUMS -printf '%P\n' | sort)" = "$(cut -c67- SHA256SUMS | sort)" ] ||
  fail "SHA256SUMS does not list exactly the other files"
for file in bin/IxaLoader.dll bin/ixa_probe.exe bin/console_simulator.exe bin/processor_module.dll \
  bin/sample_host.exe lib/libIxaLoader.dll.a lib/IxaLoader.lib lib/IxaLoader.def include/IxaLoader.h \
  doc/INTEGRATION.md LICENSE examples/tools/sample_host/sample_host.cpp examples/tools/probe/ixa_probe.cpp; do
  [ -f "$file" ] || fail "$file is missing"
done
version=$(basename "$zip" .zip | sed -E 's/^IxaLoader-(.*)-win(32|64)$/\1/')
for file in bin/IxaLoader.dll bin/durururu-dir32-udezar.exe bin/ixa_probe.exe bin/console_simulator.exe \
  bin/processor_module.dll bin/sample_host.exe; do
  grep -q 'VERSIONINFO (ID 16)' <<<"$(llvm-readobj --coff-resources "$file")" || fail "$file has no version resource"
  strings=$(strings -el "$file")
  for field in "FileVersion" "ProductVersion" "OriginalFilename" "CompanyName" "LegalCopyright"; do
    value=$(grep -A1 -x "$field" <<<"$strings" | sed -n 2p)
    case $field in
      *Version) [ "$value" = "$version" ] || fail "$file: $field is '$value', expected $version" ;;
      OriginalFilename) [ "$value" = "$(basename "$file")" ] || fail "$file: OriginalFilename is '$value'" ;;
      CompanyName) [ "$value" = "The IxaLoader developers" ] || fail "$file: CompanyName is '$value'" ;;
      LegalCopyright) [[ $value == *MIT* ]] || fail "$file: LegalCopyright is '$value'" ;;
    esac
  done
done
# Whole outputs are searched: grep -q ending a pipe early fails it under pipefail.
grep -q 'file format pei-i386' <<<"$(i686-w64-mingw32-objdump -f bin/IxaLoader.dll)" || fail "bin/IxaLoader.dll is not i686"

for import in libIxaLoader.dll.a IxaLoader.lib; do
  host=bin/package_host_${import%%.*}.exe
  i686-w64-mingw32-gcc -std=c99 -Wall -Wextra -Werror -Iinclude "$root/tests/package/package_host.c" \
    "lib/$import" -o "$host" || fail "the host does not build against lib/$import"
  grep -q 'DLL Name: IxaLoader.dll' <<<"$(i686-w64-mingw32-objdump -p "$host")" || fail "$host does not import IxaLoader.dll"
done

if ixa_kernel_runs_i686; then
  IXA_ARCH=i686 "$root/scripts/sandbox.sh" bash -c \
    'cd bin && for host in package_host_*.exe; do "$0" "$host" || exit 1; done' "$root/scripts/wine-run.sh" ||
    fail "a package host failed"
  echo "check-package: $(basename "$zip"): sums, contents, both import libraries linked and run"
else
  echo "check-package: $(basename "$zip"): sums, contents, both import libraries linked;" \
    "the hosts were not run: this kernel runs no 32-bit programs (32-bit emulation is off)"
fi
