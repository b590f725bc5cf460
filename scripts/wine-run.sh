#!/usr/bin/env bash
# Runs one Win32 program under Wine: the test emulator of the win32 build.
# WINEPREFIX and DISPLAY come from the caller (scripts/test.sh sets both).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run: no DISPLAY; run the tests through scripts/test.sh, which starts Xvfb" >&2
  exit 2
fi
qv_wine_start
qv_wine "$@"
