#!/usr/bin/env bash
# CTest's cross-compiling emulator: runs a Windows program under the Wine
# prefix of IXA_ARCH, and only inside the private network sandbox.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
if [ "${IXA_SANDBOX:-}" != 1 ]; then
  echo "refusing to run $1: start it through scripts/sandbox.sh" >&2
  exit 2
fi
ixa_check_private_network
exec "$WINELOADER" "$@"
