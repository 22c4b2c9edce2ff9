#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test inside the
# private network sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${IXA_BUILD_DIR:-$root/build}
"$root/scripts/sandbox.sh" ctest --test-dir "$build" --output-on-failure
