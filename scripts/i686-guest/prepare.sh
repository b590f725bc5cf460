#!/bin/bash
# Runs once inside the new machine, while its image is being built: the
# 32-bit Wine prefix every run starts from, kept in the image so that no run
# waits for Wine to create one.
set -u
prefix=/var/lib/quorvane/wineprefix-win32
mkdir -p "$(dirname "$prefix")"
start=$SECONDS
env WINEPREFIX="$prefix" WINEARCH=win32 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
  /usr/lib/wine/wine wineboot -i >/run/wineboot.log 2>&1
env WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -w
if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; then
  echo "[guest] wineboot did not make a 32-bit prefix"
  tail -n 30 /run/wineboot.log
  exit 1
fi
echo "[guest] 32-bit Wine prefix made in $((SECONDS - start)) s"
