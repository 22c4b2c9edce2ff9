#!/usr/bin/env bash
# A PC on two networks: the default route and 255.255.255.255 lead to a
# network where nobody answers (10.88.0.0/24), the console sits on the other
# (10.77.0.0/24), in a namespace of its own with a Wine prefix whose
# wineserver runs there. The loader must reach the running callback and the
# probe must name the network the reply came in on; then the same with no
# route for 255.255.255.255 at all. Both networks are veth pairs into
# namespaces this script makes and removes. Runs in the bin folder inside
# scripts/sandbox.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
run=$root/scripts/wine-run.sh
log=two_networks_simulator.log
console_prefix=$IXA_BUILD_DIR/wineprefix-console

ixa_check_private_network
# The loader's port is the stored one (6600 when none is stored).
port=$("$run" reg query 'HKLM\SOFTWARE\Quennel Systems\Corvane III Orb' /v port 2>/dev/null |
  tr -d '\r' | awk '$1 == "port" { print $3 }' || true)
port=$((${port:-6600}))
broadcast_route=$(ip route show 255.255.255.255)

silent_ns= console_ns= simulator=
# The console's machine has no display: the X server's socket is this
# namespace's alone.
in_console() {
  nsenter --net="/proc/$console_ns/ns/net" env -u DISPLAY IXA_WINEPREFIX="$console_prefix" WINEPREFIX="$console_prefix" \
    IXA_SANDBOX_LINKS=ixa-light1 IXA_SANDBOX_PEERS=$$ "$@"
}
# Ends the console's machine: the simulator (a Wine process can outlive its
# wineserver, so it is killed itself), then the rest of its prefix.
stop_console() {
  if [ -n "$simulator" ]; then
    kill -KILL "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
    simulator=
  fi
  in_console "$WINESERVER" -k 2>/dev/null || true
}
cleanup() {
  [ -z "$console_ns" ] || stop_console
  # The veth pairs go with the namespaces.
  for pid in $silent_ns $console_ns; do kill "$pid" 2>/dev/null || true; done
  for pid in $silent_ns $console_ns; do wait "$pid" 2>/dev/null || true; done
  ip route del 255.255.255.255 2>/dev/null || true
  [ -z "$broadcast_route" ] || ip route add $broadcast_route || true
  if ip rule show pref 1 | grep -q "lookup local"; then
    ip rule add pref 0 lookup local || true
    ip rule del pref 0 prohibit 2>/dev/null || true
    ip rule del pref 1 lookup local || true
  fi
  rm -f "$log"
}
trap cleanup EXIT

# A network namespace held by a sleeping process, whose pid goes to the
# variable named $1. The sleep ends by itself should this script be killed.
new_namespace() {
  unshare --net -- sleep 900 >/dev/null 2>&1 &
  printf -v "$1" %s "$!"
  for _ in $(seq 100); do
    [ "$(readlink "/proc/$!/ns/net" 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ] || return 0
    sleep 0.02
  done
  echo "no namespace of its own for process $!" >&2
  return 1
}

# Link $1 here (address $2) to link $3 (address $4) in the namespace of $5.
link_networks() {
  ip link add name "$1" type veth peer name "$3"
  ip link set dev "$3" netns "$5"
  # No IPv6 link-local addresses: only the 10.x ones given here exist.
  ip link set dev "$1" addrgenmode none
  ip addr add "$2" dev "$1"
  ip link set dev "$1" up
  nsenter --net="/proc/$5/ns/net" sh -c "ip link set dev lo up && ip link set dev $3 addrgenmode none &&
    ip addr add $4 dev $3 && ip link set dev $3 up"
}

new_namespace silent_ns
new_namespace console_ns
link_networks ixa-silent0 10.88.0.1/24 ixa-silent1 10.88.0.2/24 "$silent_ns"
link_networks ixa-light0 10.77.0.1/24 ixa-light1 10.77.0.2/24 "$console_ns"
ip route add default via 10.88.0.2 dev ixa-silent0
ip route replace 255.255.255.255 dev ixa-silent0
export IXA_SANDBOX_LINKS="ixa-silent0 ixa-light0" IXA_SANDBOX_PEERS="$silent_ns $console_ns"
ixa_check_private_network

# The console's own machine: its prefix's wineserver starts in its namespace.
in_console "$WINESERVER" -k 2>/dev/null || true
in_console bash -c 'source "$1/scripts/wine-env.sh"; for _ in $(seq 50); do
  ixa_wineserver_pid >/dev/null || exit 0; sleep 0.2; done; exit 1' _ "$root" ||
  { echo "the console prefix's wineserver did not stop"; exit 1; }
in_console "$root/scripts/wine-prefix.sh"
in_console bash -c 'source "$1/scripts/wine-env.sh"; ixa_check_private_network' _ "$root"
rm -f "$log"
in_console "$run" console_simulator.exe --port "$port" --lifetime 300 --log "$log" >/dev/null 2>&1 &
simulator=$!
for _ in $(seq 300); do
  grep -q "ready:" "$log" 2>/dev/null && break
  sleep 0.1
done
grep -q "ready:" "$log" || { echo "the console simulator did not start:"; cat "$log" 2>/dev/null; exit 1; }

failures=0
# Runs a program here; every extended regular expression after -- must match
# one of its lines.
expect() {
  local name=$1 output pattern verdict=ok
  shift
  local command=()
  while [ "$1" != -- ]; do command+=("$1"); shift; done
  shift
  output=$("$run" "${command[@]}" 2>/dev/null | tr -d '\r') || true
  for pattern in "$@"; do
    grep -Eq -- "${pattern//PORT/$port}" <<<"$output" || verdict="no line matches '$pattern'"
  done
  if [ "$verdict" = ok ]; then
    echo "ok    $name"
  else
    echo "FAIL  $name: $verdict; it printed:"
    sed 's/^/        /' <<<"$output"
    failures=$((failures + 1))
  fi
}

running='running callback: 1'
replied='^console 10\.77\.0\.2:PORT replied in [0-9]+ ms via 10\.77\.0\.1/24$'
expect "probe, broadcast routed to the silent network" ixa_probe.exe --port "$port" --timeout-ms 2000 -- \
  '^sent to 255\.255\.255\.255$' '^sent to 10\.88\.0\.255 via 10\.88\.0\.1/24$' \
  '^sent to 10\.77\.0\.255 via 10\.77\.0\.1/24$' "$replied"
expect "loader, broadcast routed to the silent network" sample_host.exe --wait-running 20000 -- "$running"

# No route for 255.255.255.255: the limited broadcast fails, the directed
# ones still go out and the loader must not pause for them.
ip route del 255.255.255.255
ip route del default
ixa_check_private_network
expect "probe, no route for the limited broadcast" ixa_probe.exe --port "$port" --timeout-ms 2000 -- \
  '^cannot send to 255\.255\.255\.255: Winsock error [0-9]+$' '^sent to 10\.77\.0\.255 via 10\.77\.0\.1/24$' \
  "$replied"
expect "loader, no route for the limited broadcast" sample_host.exe --wait-running 20000 -- \
  '^Broadcast failed, error [0-9]+' "$running"

connections=$(grep -c "connection from 10.77.0.1" "$log" || true)
[ "$connections" = 2 ] || { echo "FAIL  the console saw $connections connections, want 2"; failures=$((failures + 1)); }

# A network refusing the request (a firewall, here a rule ahead of the local
# table) is told once on the debugger output, not on every attempt, and the
# search goes on. The console is gone, so every attempt waits out its reply.
stop_console
ip rule add pref 1 lookup local
ip rule del pref 0 lookup local
ip rule add pref 0 to 10.88.0.255 prohibit
output=$(WINEDEBUG=-all,+debugstr "$run" sample_host.exe --wait-running 12000 2>&1 | tr -d '\r') || true
attempts=$(grep -c "^Recieve failed" <<<"$output" || true)
told=$(grep -c "Discovery request to 10\.88\.0\.255 via 10\.88\.0\.1/24 failed, error [0-9]" <<<"$output" || true)
if [ "$attempts" -ge 2 ] && [ "$told" = 1 ]; then
  echo "ok    a refused network is told once in $attempts attempts"
else
  echo "FAIL  a refused network was told $told times in $attempts attempts (want once in 2 or more); it printed:"
  sed 's/^/        /' <<<"$output"
  failures=$((failures + 1))
fi
echo "two networks: $failures failed"
[ "$failures" = 0 ]
