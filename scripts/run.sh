#!/usr/bin/env bash
# Builds the scanner when needed and opens its window under Wine with the
# GBK code page. Without a display it opens on a virtual one and says so.
# On Windows, build with CMake and start build\...\quorvane.exe directly.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh

command -v cmake >/dev/null && [ -x /usr/lib/wine/wine64 ] || scripts/setup.sh
echo "[run] building the scanner (build/win64)"
cmake --preset win64 >build-win64.log 2>&1
cmake --build --preset win64 --target quorvane >>build-win64.log 2>&1 ||
  { tail -n 30 build-win64.log; exit 1; }

trap 'qv_wine_stop; qv_display_stop' EXIT
if [ -z "${DISPLAY:-}" ]; then
  qv_display_start
  echo "[run] no DISPLAY was set: the window is on the virtual display $DISPLAY"
fi
qv_wine_start
echo "[run] starting the scanner; close its window to end"
qv_wine build/win64/src/app/quorvane.exe
