#!/usr/bin/env bash
# Installs what building and running the project needs on Debian 12 (as root):
# both cross compilers, 64-bit Wine, and 32-bit Wine where the kernel runs
# 32-bit programs; llvm-dlltool for the MSVC import library; clang and lld
# for the MSVC-style link of the package test; pkg-config; tcpdump and tshark
# for the dissector test; clang-format 14, which the tree is formatted with.
set -euo pipefail
# A caller that ran it already (the test command) says so.
[ -n "${IXA_SETUP_DONE:-}" ] && exit 0
source "$(dirname "$0")/arches.sh"

# A mirror in the middle of a sync fails one index for a while; the lists
# that did arrive may still hold every package, so the install decides.
update_package_lists() {
  local try
  for try in 1 2 3; do
    apt-get update -qq && return 0
    ((try < 3)) && { echo "setup: apt-get update failed, trying again in 20 s" >&2; sleep 20; }
  done
  echo "setup: apt-get update failed three times; installing from the lists it has" >&2
}

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "setup: installing ${missing[*]}"
  if [ -z "${ixa_apt_updated:-}" ]; then
    update_package_lists
    ixa_apt_updated=1
  fi
  local log
  log=$(mktemp)
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "setup: installing ${missing[*]} failed" >&2
    return 1
  fi
  rm -f "$log"
}

# tshark's package asks whether users may capture; answered (no) beforehand.
echo 'wireshark-common wireshark-common/install-setuid boolean false' | debconf-set-selections
install_missing \
  binutils cmake ninja-build googletest llvm clang lld clang-format-14 pkg-config tcpdump tshark \
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 \
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 \
  wine wine64 xvfb xauth iproute2 util-linux procps

if ixa_kernel_runs_i686; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    ixa_apt_updated=
  fi
  # Without it only the i686 suite is lost, and the test command says so.
  install_missing wine32:i386 ||
    echo "setup: wine32:i386 is not installed; the i686 build cannot run on this machine until it is" >&2
fi
