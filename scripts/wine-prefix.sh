#!/usr/bin/env bash
# Creates the project's Wine prefix if needed, presets what tests rely on and
# leaves a persistent wineserver running for it (in the caller's namespace).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
# Kept alive for the whole run; fails harmlessly when wineboot left one running.
wineserver -p 2>/dev/null || true
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
wine regedit /S "$(winepath -w "$regfile" 2>/dev/null)" >/dev/null 2>&1
rm -f "$regfile"
