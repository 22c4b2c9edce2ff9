#!/usr/bin/env bash
# Runs a command inside a private network namespace (loopback only, with a
# route for 255.255.255.255 on lo), with Xvfb and the Wine prefix of
# IXA_ARCH whose wineserver is started inside that namespace.
#   IXA_ARCH=x86_64 scripts/sandbox.sh COMMAND [ARGS...]
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

fail() {
  echo "sandbox: $*" >&2
  exit 1
}

if [ "${IXA_SANDBOX_STAGE:-}" != inner ]; then
  # A wineserver started outside would hand out sockets on the real network.
  ixa_wineserver -k 2>/dev/null || true
  for _ in $(seq 50); do
    ixa_wineserver_pid >/dev/null || break
    sleep 0.2
  done
  if pid=$(ixa_wineserver_pid); then
    fail "the wineserver of $WINEPREFIX (pid $pid) did not stop; it may serve the real network"
  fi
  export IXA_SANDBOX_STAGE=inner
  exec unshare --net -- "$0" "$@"
fi

ip link set lo up || fail "cannot bring loopback up"
# An offline-laptop run removes this route to see discovery without one.
if [ "${IXA_NO_BROADCAST_ROUTE:-}" != 1 ]; then
  ip route add 255.255.255.255 dev lo || fail "cannot add the broadcast route on lo"
fi
ixa_check_private_network

# Xvfb picks a free display itself and writes its number once it listens.
displayfile=$(mktemp)
xvfb_log=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >"$xvfb_log" 2>&1 &
xvfb_pid=$!

cleanup() {
  ixa_wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$displayfile" "$xvfb_log"
}
trap cleanup EXIT

for _ in $(seq 200); do
  [ -s "$displayfile" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$displayfile" ]; then
  cat "$xvfb_log" >&2
  fail "Xvfb did not start"
fi
export DISPLAY=":$(head -n1 "$displayfile")"

"$ixa_root/scripts/wine-prefix.sh"
ixa_check_private_network
export IXA_SANDBOX=1
"$@"
