#!/usr/bin/env bash
# Takes PNG screenshots of the status window and of the Patch dialog under
# Xvfb into docs/, from the build of IXA_ARCH (x86_64 unless set):
#   bash scripts/screenshots.sh
set -euo pipefail
export IXA_ARCH=${IXA_ARCH:-x86_64}
source "$(dirname "$0")/wine-env.sh"
root=$ixa_root
build=$IXA_BUILD_DIR

if [ "${IXA_SANDBOX:-}" != 1 ]; then
  "$root/scripts/setup.sh"
  # Only the screenshots need these: import, and Wine's MS Sans Serif.
  missing=()
  for p in imagemagick fonts-wine; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]} > 0)); then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  "$root/scripts/build.sh" >/dev/null
  exec "$root/scripts/sandbox.sh" "$0" "$@"
fi
mkdir -p "$root/docs"

# The templates are laid out for MS Sans Serif; without it Wine falls back to
# a wider font and labels get clipped. Debian's fonts-wine has Wine's own
# version, which the prefix loads from its Fonts folder.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
for font in sserife.fon ms_sans_serif.ttf; do
  if [ -f "/usr/share/wine/fonts/$font" ]; then
    [ -f "$fonts/$font" ] || cp "/usr/share/wine/fonts/$font" "$fonts/"
  else
    echo "warning: /usr/share/wine/fonts/$font missing (package fonts-wine); labels may be clipped" >&2
  fi
done

shoot() {  # mode output
  local out
  out=$(mktemp)
  (cd "$build/bin" && "$root/scripts/wine-run.sh" ui_preview.exe "$1" 8000 >"$out" 2>/dev/null) &
  local preview=$!
  for _ in $(seq 300); do
    grep -q '^ready' "$out" && break
    sleep 0.1
  done
  read -r _ x y w h < <(grep '^ready' "$out" | tr -d '\r')
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
  echo "wrote $2 (${w}x${h} at ${x},${y})"
  wait "$preview" || true
  rm -f "$out"
}

shoot status "$root/docs/status-window.png"
shoot patch "$root/docs/patch-dialog.png"
