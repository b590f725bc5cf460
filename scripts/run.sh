#!/usr/bin/env bash
# Builds the scanner when needed and opens its window under Wine with the
# GBK code page. Without a display it opens on a virtual one and says so.
# On Windows, build with CMake and start build\...\quorvane.exe directly.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG=run

qv_require_machine
qv_build win64 quorvane

qv_on_exit 'qv_wine_stop; qv_display_stop'
if [ -z "${DISPLAY:-}" ]; then
  qv_display_start
  say "no DISPLAY was set: the window is on the virtual display $DISPLAY"
fi
qv_wine_start
say "starting the scanner; close its window to end"
qv_wine build/win64/src/app/quorvane.exe
