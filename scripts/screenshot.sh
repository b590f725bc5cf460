#!/usr/bin/env bash
# Takes a picture of the main window as the operator sees it: the program
# under Wine (locale zh_CN, ANSI code page 936, unless QV_WINE_LOCALE names
# another), inside a Wine virtual desktop (so the window frame is drawn) on
# a private virtual display. Prints the PNG's path.
# Usage: scripts/screenshot.sh [output.png]   (default build/screenshot.png)
#   QV_WINE_DPI=144 scripts/screenshot.sh docs/screenshot-144dpi.png
# takes it at another system DPI, in a prefix of that DPI's own
# (build/win64/wineprefix-144dpi, the one the 144-DPI window tests use).
# Stops only what it started, by process id.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG=screenshot QV_SAY_FD=2

OUT=$(realpath -m "${1:-build/screenshot.png}")
DPI=${QV_WINE_DPI:-96}
# The window's outer size is the design's at 96 DPI scaled as the program
# scales it (MulDiv rounds halves up); the desktop leaves the same margin.
at_dpi() { echo $((($1 * DPI + 48) / 96)); }
WINDOW_SIZE=("$(at_dpi 585)" "$(at_dpi 616)")
DESKTOP_SIZE=($((WINDOW_SIZE[0] + 215)) $((WINDOW_SIZE[1] + 84)))
export QV_XVFB_SIZE="$((DESKTOP_SIZE[0] > 1280 ? DESKTOP_SIZE[0] : 1280))x$((DESKTOP_SIZE[1] > 1024 ? DESKTOP_SIZE[1] : 1024))"

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1 start=$SECONDS
  shift
  until "$@"; do
    ((SECONDS - start < limit)) || return 1
    sleep 0.2
  done
}

qv_build win64 quorvane >&2

WORK=$(mktemp -d)
DESKTOP_PID=""
SERVER_STARTED=""
cleanup() {
  if [ -n "$DESKTOP_PID" ] && kill -0 "$DESKTOP_PID" 2>/dev/null; then
    kill "$DESKTOP_PID" 2>/dev/null || true
    wait "$DESKTOP_PID" 2>/dev/null || true
  fi
  [ -z "$SERVER_STARTED" ] || qv_wineserver -k >/dev/null 2>&1 || true
  qv_display_stop
  rm -rf "$WORK"
}
qv_on_exit cleanup

# Always a display of our own, so the picture does not depend on the caller's.
unset DISPLAY
qv_display_start
qv_wine_exports
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  qv_wine_start  # creates the prefix once, at QV_WINE_DPI
  SERVER_STARTED=1
fi

qv_wine explorer "/desktop=QuorvaneShot,${DESKTOP_SIZE[0]}x${DESKTOP_SIZE[1]}" \
  build/win64/src/app/quorvane.exe >"$WORK/wine.log" 2>&1 </dev/null &
DESKTOP_PID=$!

window_shown() { xdotool search --name '^Quorvane V2\.2$' >/dev/null 2>&1; }
wait_for 60 window_shown || { say "the window did not appear"; cat "$WORK/wine.log" >&2; exit 1; }

# The program centres itself on the virtual desktop, which sits at the
# display's top-left corner.
LEFT=$(((DESKTOP_SIZE[0] - WINDOW_SIZE[0]) / 2))
TOP=$(((DESKTOP_SIZE[1] - WINDOW_SIZE[1]) / 2))
capture() {
  xwd -root -silent | convert xwd:- -crop "${WINDOW_SIZE[0]}x${WINDOW_SIZE[1]}+$LEFT+$TOP" +repage \
    -strip -colors 64 "PNG8:$1"
}
# Painted when two pictures in a row are the same.
settled() {
  capture "$WORK/b.png"
  if [ -f "$WORK/a.png" ] && cmp -s "$WORK/a.png" "$WORK/b.png"; then return 0; fi
  mv "$WORK/b.png" "$WORK/a.png"
  return 1
}
wait_for 20 settled || say "the picture kept changing; keeping the last one"
mkdir -p "$(dirname "$OUT")"
cp "$WORK/a.png" "$OUT"

# Esc closes the window the way the operator would; then the desktop goes.
xdotool search --name '^Quorvane V2\.2$' windowfocus --sync key Escape >/dev/null 2>&1 || true
wait_for 10 bash -c '! xdotool search --name "^Quorvane V2\.2$" >/dev/null 2>&1' || say "the window did not close"
echo "$OUT"
