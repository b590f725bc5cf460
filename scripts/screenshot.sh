#!/usr/bin/env bash
# Takes a picture of the main window as the operator sees it: the program
# under Wine (locale zh_CN, ANSI code page 936, unless QV_WINE_LOCALE names
# another), inside a Wine virtual desktop (so the window frame is drawn) on
# a private virtual display. Prints the PNG's path.
# Usage: scripts/screenshot.sh [output.png]   (default build/screenshot.png)
# Stops only what it started, by process id.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh

OUT=$(realpath -m "${1:-build/screenshot.png}")
DESKTOP_SIZE=(800 700)
WINDOW_SIZE=(585 616)
say() { printf '[screenshot] %s\n' "$*" >&2; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1 start=$SECONDS
  shift
  until "$@"; do
    ((SECONDS - start < limit)) || return 1
    sleep 0.2
  done
}

say "building the program (build/win64)"
cmake --preset win64 >build-win64.log 2>&1
cmake --build build/win64 --target quorvane >>build-win64.log 2>&1 || { tail -n 30 build-win64.log; exit 1; }

WORK=$(mktemp -d)
DESKTOP_PID=""
cleanup() {
  if [ -n "$DESKTOP_PID" ] && kill -0 "$DESKTOP_PID" 2>/dev/null; then
    kill "$DESKTOP_PID" 2>/dev/null || true
    wait "$DESKTOP_PID" 2>/dev/null || true
  fi
  qv_display_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

# Always a display of our own, so the picture does not depend on the caller's.
unset DISPLAY
qv_display_start
qv_wine_exports
[ -f "$WINEPREFIX/system.reg" ] || qv_wine_start  # creates the prefix once
qv_wine_fonts

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
