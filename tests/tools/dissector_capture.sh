#!/usr/bin/env bash
# tools/wireshark/ixaloader.lua with tshark on a capture of the demo: tcpdump
# on lo while the console simulator serves the processor module to the
# sample host, then a console answering with three bytes to ixa_probe.
# Runs in the bin folder inside scripts/sandbox.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/scripts/wine-run.sh
port=6600
work=$(mktemp -d)
capture=$work/demo.pcap
log=dissector_capture_simulator.log
tcpdump_pid=
cleanup() {
  [ -z "$tcpdump_pid" ] || kill "$tcpdump_pid" 2>/dev/null || true
  rm -rf "$work" "$log"
}
trap cleanup EXIT

fail() {
  echo "dissector capture: $*" >&2
  exit 1
}

# Waits, bounded, until the file holds the text.
wait_for() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

start_simulator() {
  rm -f "$log"
  "$run" console_simulator.exe --port "$port" --log "$log" --lifetime 60 "$@" >/dev/null 2>&1 &
  simulator=$!
  wait_for "$log" "ready:" || fail "the console simulator did not start"
}

# -Z root: tcpdump would otherwise drop to a user who cannot write here.
tcpdump -i lo -U -Z root -w "$capture" "port $port" 2>"$work/tcpdump.log" &
tcpdump_pid=$!
wait_for "$work/tcpdump.log" "listening on" || fail "tcpdump did not start: $(cat "$work/tcpdump.log")"

start_simulator --exit-after 1
# Only the wire counts here: the host's own verdict (its status window under
# Wine's desktop) is not what is tested, so its log is shown on failure only.
"$run" sample_host.exe --wait-running 20000 --read-seconds 0 --rows 0 >"$work/host.log" 2>&1 || true
wait "$simulator" || true
start_simulator --fault short-reply
"$run" ixa_probe.exe --port "$port" --timeout-ms 1000 >/dev/null 2>&1 || true
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
kill -INT "$tcpdump_pid"
wait "$tcpdump_pid" || true
tcpdump_pid=

decode() {
  tshark -r "$capture" -X lua_script:"$root/tools/wireshark/ixaloader.lua" "$@" 2>"$work/tshark.log" ||
    fail "tshark failed: $(cat "$work/tshark.log")"
}
summary=$(decode -Y "ixadisc || ixaimage" -T fields -e _ws.col.Protocol -e _ws.col.Info | tr '\t' ' ')
echo "$summary"
image_size=$(stat -c %s processor_module.dll)
failures=0
for expected in "IXADISC Discovery request" "IXADISC Discovery reply" "IXADISC Malformed discovery datagram (3 bytes)" \
  "IXAIMAGE Image request" "IXAIMAGE Image, $image_size bytes"; do
  grep -qxF "$expected" <<<"$summary" || { echo "missing: $expected" >&2; failures=$((failures + 1)); }
done
[ "$(decode -Y ixaimage.length -T fields -e ixaimage.length)" = "$image_size" ] ||
  { echo "ixaimage.length is not $image_size" >&2; failures=$((failures + 1)); }
[ "$(decode -Y ixadisc.malformed -T fields -e frame.number | wc -l)" = 1 ] ||
  { echo "not exactly one datagram flagged malformed" >&2; failures=$((failures + 1)); }
echo "dissector capture: $failures failed"
[ "$failures" = 0 ] || fail "the sample host printed: $(tr -d '\r' <"$work/host.log")"
