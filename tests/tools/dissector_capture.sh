#!/usr/bin/env bash
# tools/wireshark/ixaloader.lua with tshark on a capture of the demo: tcpdump
# on lo while the console simulator serves the processor module to the
# sample host, then a console answering with three bytes to ixa_probe, then
# a console on another port than the dissector's preference (its heuristic)
# answering ixa_probe, then a console serving ixa_probe more than the
# loader's limit.
# Runs in the bin folder inside scripts/sandbox.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/scripts/wine-run.sh
port=6600
other_port=7001
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

# Waits, bounded, until the file holds the text (for at most $3 tenths of a
# second, by default 100).
wait_for() {
  for _ in $(seq "${3:-100}"); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

start_simulator() {
  local on=$1
  shift
  rm -f "$log"
  "$run" console_simulator.exe --port "$on" --log "$log" --lifetime 60 "$@" >/dev/null 2>&1 &
  simulator=$!
  wait_for "$log" "ready:" || fail "the console simulator did not start"
}

# -Z root: tcpdump would otherwise drop to a user who cannot write here.
# -B: the image crosses loopback in a burst; on a busy machine the default
# buffer drops part of it before tcpdump is scheduled.
tcpdump -i lo -U -B 65536 -Z root -w "$capture" "port $port or port $other_port" 2>"$work/tcpdump.log" &
tcpdump_pid=$!
wait_for "$work/tcpdump.log" "listening on" || fail "tcpdump did not start: $(cat "$work/tcpdump.log")"

start_simulator "$port" --exit-after 1
# Only the wire counts here: the host's own verdict (its status window under
# Wine's desktop) is not what is tested, so its log is shown on failure only.
"$run" sample_host.exe --wait-running 20000 --read-seconds 0 --rows 0 >"$work/host.log" 2>&1 || true
wait "$simulator" || true
start_simulator "$port" --fault short-reply
"$run" ixa_probe.exe --port "$port" --timeout-ms 1000 >/dev/null 2>&1 || true
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
start_simulator "$other_port"
"$run" ixa_probe.exe --port "$other_port" --timeout-ms 1000 >/dev/null 2>&1 || true
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
start_simulator "$port" --fault oversize --exit-after 1
# A longer wait: under a full suite's load one second can miss the reply,
# and then no stream is captured at all.
"$run" ixa_probe.exe --port "$port" --timeout-ms 3000 --fetch >/dev/null 2>&1 || true
wait "$simulator" || true
# Stopped, tcpdump drops what it has not written yet: a last datagram, which
# no dissector takes, shows that it has caught up with the 11 MB burst.
printf 'end of capture' >"/dev/udp/127.0.0.1/$other_port"
wait_for "$capture" "end of capture" 600 || fail "tcpdump did not write the whole capture"
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
  "IXAIMAGE Image request" "IXAIMAGE Image, $image_size bytes" \
  "IXAIMAGE Image, 11534336 bytes, cut at the loader's limit"; do
  grep -qxF "$expected" <<<"$summary" || { echo "missing: $expected" >&2; failures=$((failures + 1)); }
done
[ "$(decode -Y "ixaimage.length && !ixaimage.too_large" -T fields -e ixaimage.length)" = "$image_size" ] ||
  { echo "ixaimage.length is not $image_size" >&2; failures=$((failures + 1)); }
# The oversized stream, held no further than the limit.
[ "$(decode -Y ixaimage.too_large -T fields -e ixaimage.length)" = 11534336 ] ||
  { echo "the oversized image is not cut at 11534336 bytes and flagged" >&2; failures=$((failures + 1)); }
[ "$(decode -Y ixadisc.malformed -T fields -e frame.number | wc -l)" = 1 ] ||
  { echo "not exactly one datagram flagged malformed" >&2; failures=$((failures + 1)); }
# The other port, by the heuristic alone: request and reply, each naming
# the other, the reply with its response time (-2: a request learns of its
# reply on the second pass).
other=$(decode -2 -Y "udp.port == $other_port && ixadisc" -T fields -E separator=, -e frame.number -e _ws.col.Info \
  -e ixadisc.response_in -e ixadisc.response_to -e ixadisc.time)
echo "$other"
request=$(awk -F, '$2 == "Discovery request" { print $1; exit }' <<<"$other")
reply=$(awk -F, '$2 == "Discovery reply" { print $1; exit }' <<<"$other")
if [ -z "$request" ] || [ -z "$reply" ]; then
  echo "missing: request and reply on port $other_port" >&2
  failures=$((failures + 1))
else
  grep -qx "$request,Discovery request,$reply,," <<<"$other" ||
    { echo "the request on port $other_port does not name its reply" >&2; failures=$((failures + 1)); }
  grep -qE "^$reply,Discovery reply,,$request,0\.[0-9]{9}\$" <<<"$other" ||
    { echo "the reply on port $other_port does not name its request and time" >&2; failures=$((failures + 1)); }
fi
echo "dissector capture: $failures failed"
[ "$failures" = 0 ] || fail "tcpdump said: $(tr '\n' ' ' <"$work/tcpdump.log"); the sample host printed: $(tr -d '\r' <"$work/host.log")"
