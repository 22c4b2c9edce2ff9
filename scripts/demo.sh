#!/usr/bin/env bash
# Sets up the machine, builds, and runs the demo: a host loads the library,
# starts detection, reads universes, sends commands and shuts down.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build=${IXA_BUILD_DIR:-$root/build}
cd "$build/bin"
"$root/scripts/sandbox.sh" "$root/scripts/wine-run.sh" sample_host.exe --commands --rows 4
