#!/usr/bin/env bash
# Runs stress_host from the build of IXA_ARCH inside the private network
# sandbox; arguments go to it (--seconds N bounds its first phase). Fails
# when it finds a crash or a hang.
#   IXA_ARCH=x86_64 scripts/stress.sh --seconds 30
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
cd "$IXA_BUILD_DIR/bin"
exec "$ixa_root/scripts/sandbox.sh" "$ixa_root/scripts/wine-run.sh" ./stress_host.exe "$@"
