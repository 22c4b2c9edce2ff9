#!/usr/bin/env bash
# Runs a command inside a private network namespace (loopback only, with a
# route for 255.255.255.255 on lo), with Xvfb and the project's Wine prefix
# whose wineserver is started inside that namespace.
#   scripts/sandbox.sh COMMAND [ARGS...]
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

if [ "${IXA_SANDBOX_STAGE:-}" != inner ]; then
  # A wineserver started outside would hand out sockets on the real network.
  wineserver -k 2>/dev/null || true
  while ixa_wineserver_pid >/dev/null; do sleep 0.2; done
  export IXA_SANDBOX_STAGE=inner
  exec unshare --net --mount -- "$0" "$@"
fi

# sysfs shows the namespace of whoever mounted it: remount it for ours, so the
# interface check sees this namespace's interfaces.
mount -t sysfs none /sys

ip link set lo up
ip route add 255.255.255.255 dev lo
ixa_check_private_network

# Xvfb on the first free display.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"

cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.05
done

"$ixa_root/scripts/wine-prefix.sh"
ixa_check_private_network
export IXA_SANDBOX=1
"$@"
