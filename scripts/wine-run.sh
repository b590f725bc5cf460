#!/usr/bin/env bash
# Runs one Win32 program under Wine: the test emulator of the win32 build.
# WINEPREFIX and DISPLAY come from the caller (scripts/test.sh sets both).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run: no DISPLAY; run the tests through scripts/test.sh, which starts Xvfb" >&2
  exit 2
fi
# A test program that crashes ends at once instead of waiting in Wine's
# debugger until the test's time limit.
export WINEDLLOVERRIDES=$QV_WINE_DLL_OVERRIDES
# QV_WINE_READY: the caller has started the prefix's server and made every
# test program's windows unmanaged already (the emulated machine of
# scripts/test-i686.sh does, as each Wine start costs seconds there).
# A prefix at another DPI (QV_WINE_DPI) is made only by the start below;
# where the caller prepared the one prefix at 96 DPI, such a run is skipped.
if [ -n "${QV_WINE_READY:-}" ] && [ -n "${QV_WINE_DPI:-}" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: skipped: no prefix at ${QV_WINE_DPI} DPI was prepared ($WINEPREFIX)" >&2
  exit 77
fi
if [ -z "${QV_WINE_READY:-}" ]; then
  qv_wine_start
  # A bare virtual display has no window manager: a top-level window that
  # Wine treats as managed waits 2 s for one whenever it is destroyed. Test
  # programs (and only they, by their own name) get unmanaged windows.
  qv_wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$1")\\X11 Driver" /v Managed /d N /f \
    >/dev/null 2>&1 </dev/null || true
fi
qv_wine "$@"
