#!/usr/bin/env bash
# Runs one Win32 program under Wine: the test emulator of the win32 build.
# WINEPREFIX and DISPLAY come from the caller (scripts/test.sh sets both).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
QV_SAY_TAG=wine-run QV_SAY_FD=2
if [ -z "${DISPLAY:-}" ]; then
  say "no DISPLAY; run the tests through scripts/test.sh, which starts Xvfb"
  exit 2
fi
# QV_WINE_READY: the caller has started the prefix's server and made every
# test program's windows unmanaged already (the emulated machine of
# scripts/test-i686.sh does, as each Wine start costs seconds there).
# A prefix at another DPI (QV_WINE_DPI) is made only by the start below;
# where the caller prepared the one prefix at 96 DPI, such a run is skipped.
qv_wine_exports
if [ -n "${QV_WINE_READY:-}" ] && [ -n "${QV_WINE_DPI:-}" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "skipped: no prefix at ${QV_WINE_DPI} DPI was prepared ($WINEPREFIX)"
  exit 77
fi
if [ -z "${QV_WINE_READY:-}" ]; then
  qv_wine_start
  qv_wine_unmanaged_windows qv_wine "$(basename "$1")" || true
fi
qv_wine "$@"
