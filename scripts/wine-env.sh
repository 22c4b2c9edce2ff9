# Sourced by the scripts: the build and Wine prefix of one architecture
# (IXA_ARCH, i686 or x86_64) and the checks that keep every Wine process off
# the real network.

ixa_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export IXA_ARCH=${IXA_ARCH:-i686}
export IXA_BUILD_ROOT=${IXA_BUILD_ROOT:-$ixa_root/build}
export IXA_BUILD_DIR=$IXA_BUILD_ROOT/$IXA_ARCH
# A test that runs a second machine in a namespace of its own gives it a
# prefix of its own (IXA_WINEPREFIX), whose wineserver lives there.
export WINEPREFIX=${IXA_WINEPREFIX:-$IXA_BUILD_DIR/wineprefix}
# The loaders are called directly: Debian's wine wrapper prefers the 32-bit
# loader whenever it is installed, and that cannot run on every kernel.
case $IXA_ARCH in
  i686) export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
  x86_64) export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
  *)
    echo "unknown architecture '$IXA_ARCH': use i686 or x86_64" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
if [ -x /usr/lib/wine/wineserver64 ]; then
  export WINESERVER=/usr/lib/wine/wineserver64
else
  export WINESERVER=/usr/lib/wine/wineserver32
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts when the prefix is created.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

ixa_wine() { "$WINELOADER" "$@"; }
ixa_wineserver() { "$WINESERVER" "$@"; }

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

# Whether link $1 of this namespace is a veth whose peer lives in one of the
# namespaces of the processes IXA_SANDBOX_PEERS lists (none of them the
# first process's), each end naming the other's index.
ixa_link_peer_is_ours() {
  local link=$1 index peer pid ns
  index=$(ip -o link show dev "$link" | awk -F': ' '{ print $1 }')
  peer=$(ip -o link show dev "$link" | sed -n 's/^[0-9]*: [^@:]*@if\([0-9]*\):.*link-netnsid.*/\1/p')
  [ -n "$peer" ] && ip -d -o link show dev "$link" | grep -qw veth || return 1
  for pid in ${IXA_SANDBOX_PEERS:-}; do
    ns=$(readlink "/proc/$pid/ns/net") || continue
    [ "$ns" != "$(readlink /proc/1/ns/net 2>/dev/null)" ] || continue
    if nsenter --net="/proc/$pid/ns/net" ip -d -o link show 2>/dev/null |
      grep -E "^$peer: [^@:]*@if$index:" | grep -qw veth; then
      return 0
    fi
  done
  return 1
}

# Succeeds only inside a private network namespace where loopback is the
# only interface up and only loopback addresses exist, with this prefix's
# wineserver (if running) in that same namespace. Kernels with tunnel
# modules add sit0, tunl0 and the like to every namespace: down, no address.
# A test that builds networks of its own names its links in
# IXA_SANDBOX_LINKS: each may be up with private 10.x addresses only, and
# must be a veth into a namespace the test made (IXA_SANDBOX_PEERS).
ixa_check_private_network() {
  local up addresses ours pid link
  for link in ${IXA_SANDBOX_LINKS:-}; do
    ip -o link show dev "$link" >/dev/null 2>&1 || continue
    if ! ixa_link_peer_is_ours "$link"; then
      echo "refusing to run: $link leads to no namespace of this test" >&2
      return 1
    fi
  done
  # Asked over netlink: /sys/class/net may still show the outer namespace.
  up=$(ip -o link show up | awk -F': ' -v ours=" ${IXA_SANDBOX_LINKS:-} " '
    { sub(/@.*/, "", $2); if ($2 != "lo" && index(ours, " " $2 " ") == 0) printf "%s ", $2 }')
  if [ -n "$up" ]; then
    echo "refusing to run: network interfaces other than loopback are up (${up% })" >&2
    return 1
  fi
  addresses=$(ip -o addr show | awk -v ours=" ${IXA_SANDBOX_LINKS:-} " '
    !($2 == "lo" && $4 ~ /^(127\.[0-9.]+|::1)\/[0-9]+$/) &&
    !(index(ours, " " $2 " ") > 0 && $3 == "inet" && $4 ~ /^10\.[0-9.]+\/[0-9]+$/) { printf "%s %s ", $2, $4 }')
  if [ -n "$addresses" ]; then
    echo "refusing to run: addresses other than loopback exist (${addresses% })" >&2
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
