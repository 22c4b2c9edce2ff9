#!/usr/bin/env bash
# Creates the Wine prefix of IXA_ARCH if needed, presets what tests rely on
# and leaves a persistent wineserver running for it (in the caller's
# namespace).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a step quietly; on failure shows what it printed.
quietly() {
  if ! "$@" >"$log" 2>&1; then
    echo "wine-prefix: '$*' failed (WINEPREFIX=$WINEPREFIX, WINELOADER=$WINELOADER):" >&2
    cat "$log" >&2
    exit 1
  fi
}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  ixa_prefix_made=1
  mkdir -p "$WINEPREFIX"
  # A first boot on a busy machine has once failed to start one of its
  # programs ("ShellExecuteEx failed"); a second one from scratch is cheap.
  if ! ixa_wine wineboot -i >"$log" 2>&1; then
    echo "wine-prefix: making $WINEPREFIX failed once, making it again:" >&2
    sed 's/^/  /' "$log" >&2
    ixa_wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    quietly ixa_wine wineboot -i
  fi
fi
# Kept alive for the whole run; wineboot may have left one running already.
if ! ixa_wineserver_pid >/dev/null; then
  quietly ixa_wineserver -p
fi
regfile=$(mktemp --suffix=.reg)
cat > "$regfile" <<'REG'
REGEDIT4

; Without a window manager every window close stalls about 2 s otherwise.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

; A crash must end the process, not start a debugger that waits forever.
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"="false"
"Auto"="1"
REG
quietly ixa_wine regedit /S "$(ixa_wine winepath -w "$regfile")"
rm -f "$regfile"
# The desktop process that wineboot started (it holds the notification
# area) read its settings before these: restarted, it reads them. The
# services come back here too, with their output in the log: started by a
# test, they would hold its output pipe open and its runner would wait on it.
if [ -n "${ixa_prefix_made:-}" ]; then
  ixa_wineserver -k 2>/dev/null || true
  ixa_wineserver -w 2>/dev/null || true
  quietly ixa_wineserver -p
  quietly ixa_wine wineboot
fi
