#!/usr/bin/env bash
# Configures and builds everything for IXA_ARCH (i686 or x86_64) into
# build/<arch>/ (or $IXA_BUILD_ROOT/<arch>/).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
cmake -S "$ixa_root" -B "$IXA_BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ixa_root/cmake/$IXA_ARCH-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$IXA_BUILD_DIR" -j "$(nproc)"
