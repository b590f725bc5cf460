#!/bin/bash
# Runs once inside the new machine, while its image is being built: the
# 32-bit Wine prefix every run starts from, kept in the image so that no run
# waits for Wine to create one. It is made as every prefix of the project is
# (the library beside it in the image).
set -u
# shellcheck source=scripts/lib.sh
source /usr/local/lib/quorvane/lib.sh
QV_SAY_TAG=guest
export WINEPREFIX=/var/lib/quorvane/wineprefix-win32 QV_WINEARCH=win32
start=$SECONDS
qv_wine_make_prefix || exit 1
if [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
  say "wineboot did not make a 32-bit prefix"
  tail -n 30 "$WINEPREFIX.log"
  exit 1
fi
say "32-bit Wine prefix made in $((SECONDS - start)) s"
