#!/usr/bin/env bash
# Sets up the machine, builds, and runs the demo inside the private network
# sandbox: a simulated console serves the processor module on loopback, and
# the sample host loads IxaLoader.dll, finds the console, receives and starts
# the module, reads live universes, sends commands and shuts down, printing
# each step with its time; then the console probe writes the report a user
# would send to support, the end of the log file in it. Ends by itself.
# It runs the shipped i686 build where the kernel runs 32-bit programs,
# otherwise the x86_64 build; IXA_ARCH picks one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${IXA_DEMO_STAGE:-}" != sandboxed ]; then
  "$root/scripts/setup.sh"
  source "$root/scripts/arches.sh"
  if [ -z "${IXA_ARCH:-}" ]; then
    if ixa_runs_i686; then
      IXA_ARCH=i686
      echo "demo: running the i686 build (the shipped DLL)"
    else
      IXA_ARCH=x86_64
      echo "demo: running the x86_64 build: $ixa_i686_why_not"
    fi
  fi
  export IXA_ARCH
  echo "building into build/$IXA_ARCH ..."
  build_log=$(mktemp)
  if ! "$root/scripts/build.sh" >"$build_log" 2>&1; then
    cat "$build_log" >&2
    exit 1
  fi
  rm -f "$build_log"
  export IXA_DEMO_STAGE=sandboxed
  exec "$root/scripts/sandbox.sh" "$0" "$@"
fi

source "$root/scripts/wine-env.sh"
cd "$IXA_BUILD_DIR/bin"
port=6600
log=$(mktemp)
trap 'rm -f "$log"' EXIT

echo "== console simulator on UDP/TCP port $port (loopback only), serving processor_module.dll"
"$root/scripts/wine-run.sh" console_simulator.exe --port "$port" --module processor_module.dll \
  --exit-after 2 --lifetime 60 --log "$(ixa_wine winepath -w "$log")" >/dev/null 2>&1 &
simulator=$!
for _ in $(seq 100); do
  grep -q "ready:" "$log" 2>/dev/null && break
  sleep 0.1
done
tail -f "$log" --pid "$simulator" 2>/dev/null | sed -u 's/^/console | /' &
follower=$!

echo "== sample host: load IxaLoader.dll, detect, transfer, launch, read, command, shut down"
"$root/scripts/wine-run.sh" sample_host.exe --wait-running 20000 --read-seconds 3 --rows 8 \
  --commands --show-console 2>&1 | sed -u 's/^/host    | /'

echo "== ixa_probe --report --fetch: what a user sends to support (settings and patch rows left out here)"
report=$(mktemp)
"$root/scripts/wine-run.sh" ixa_probe.exe --report --fetch --timeout-ms 2000 2>&1 | tr -d '\r' >"$report" || true
grep -v -E '^(patch #|\| )' "$report" | sed 's/^/report  | /' || true
echo "== the end of the log file in the report, %LOCALAPPDATA%\\IxaLoader\\IxaLoader.log"
grep '^| ' "$report" | tail -n 15 | sed 's/^/log     /' || true
rm -f "$report"

wait "$simulator" || true
wait "$follower" 2>/dev/null || true
echo "== demo finished"
