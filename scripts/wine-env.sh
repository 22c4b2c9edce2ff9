# Sourced by the scripts: the project's own Wine prefix and the checks that
# keep every Wine process off the real network.

ixa_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export IXA_BUILD_DIR=${IXA_BUILD_DIR:-$ixa_root/build}
export WINEPREFIX=${WINEPREFIX:-$IXA_BUILD_DIR/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts when the prefix is created.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Pid of the wineserver that serves $WINEPREFIX, if any. The server runs in a
# directory named after the prefix's device and inode.
ixa_wineserver_pid() {
  [ -d "$WINEPREFIX" ] || return 1
  local dev ino want pid
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  want=$(printf 'server-%x-%x' "$dev" "$ino")
  for pid in $(pgrep -f wineserver 2>/dev/null); do
    if [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$want" ]; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

# Succeeds only inside a private network namespace whose only interface is
# loopback, with this prefix's wineserver (if running) in that same namespace.
ixa_check_private_network() {
  local ifaces ours pid
  # Asked over netlink: /sys/class/net may still show the outer namespace.
  ifaces=$(ip -o link show | awk -F': ' '{print $2}' | sed 's/@.*//' | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$ifaces" != "lo" ]; then
    echo "refusing to run: network interfaces other than loopback are visible ($(echo $ifaces))" >&2
    return 1
  fi
  ours=$(readlink /proc/self/ns/net)
  if [ "$ours" = "$(readlink /proc/1/ns/net 2>/dev/null)" ]; then
    echo "refusing to run: not inside a private network namespace" >&2
    return 1
  fi
  if pid=$(ixa_wineserver_pid); then
    if [ "$(readlink "/proc/$pid/ns/net")" != "$ours" ]; then
      echo "refusing to run: the wineserver of $WINEPREFIX lives in another network namespace" >&2
      return 1
    fi
  fi
}
