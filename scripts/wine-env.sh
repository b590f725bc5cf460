# Shared by the scripts: the Wine environment the program runs in.
# Source it; it defines functions and exports nothing until they are called.

QV_ROOT=${QV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

# No Mono or Gecko installer dialogs when a prefix is created; and, for
# everything but winedbg run on purpose, no crash debugger: a crashed
# process ends at once and says so, instead of waiting in the debugger
# while its caller waits for it.
QV_WINE_NO_INSTALLERS="mscoree,mshtml="
QV_WINE_DLL_OVERRIDES="$QV_WINE_NO_INSTALLERS;winedbg.exe=d"

# Wine's ANSI code page follows the locale: zh_CN gives 936 (GBK), the code
# page every text of the program is written in.
# QV_WINE_DPI other than 96 takes that DPI's own prefix (see qv_wine_dpi).
qv_wine_exports() {
  local dpi=""
  [ "${QV_WINE_DPI:-96}" = 96 ] || dpi=-${QV_WINE_DPI}dpi
  export WINEPREFIX=${WINEPREFIX:-$QV_ROOT/build/win64/wineprefix$dpi}
  export LC_ALL=${QV_WINE_LOCALE:-zh_CN.UTF-8}
  export WINEARCH=${QV_WINEARCH:-win64}
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-$QV_WINE_DLL_OVERRIDES}
}

# The loader of the prefix's kind, directly: with a 64-bit prefix the "wine"
# front end would hand 32-bit helpers to the 32-bit loader, which kernels
# without IA-32 emulation cannot run. QV_WINEARCH=win32 (the 32-bit test
# build, run in the emulated machine of scripts/test-i686.sh) takes the
# 32-bit loader and a 32-bit prefix.
qv_wine_loader() {
  if [ "${QV_WINEARCH:-win64}" = win32 ]; then
    echo /usr/lib/wine/wine
  elif [ -x /usr/lib/wine/wine64 ]; then
    echo /usr/lib/wine/wine64
  else
    command -v wine
  fi
}

qv_wine() {
  "$(qv_wine_loader)" "$@"
}

qv_wineserver() {
  if [ -x /usr/lib/wine/wineserver64 ]; then /usr/lib/wine/wineserver64 "$@"; else wineserver "$@"; fi
}

# Creates the prefix once and keeps its wineserver running, with every
# service's output sent to a log: Wine's services inherit stdout, and a pipe
# they hold open would keep a caller waiting for ever. For the same reason
# nothing started under the lock may inherit the lock's descriptor.
qv_wine_start() {
  qv_wine_exports
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "[wine] creating the Wine prefix $WINEPREFIX (about 15 s, once)" >&2
      qv_wine wineboot -i >"$WINEPREFIX.log" 2>&1 </dev/null 9>&- || true
      qv_wine_cjk_fallback
      qv_wine_dpi
      qv_wineserver -w 9>&-
    fi
    qv_wine_fonts
    qv_wineserver -p >/dev/null 2>&1 </dev/null 9>&- || true  # already running
    qv_wine cmd /c exit >>"$WINEPREFIX.log" 2>&1 </dev/null 9>&- || true
  ) 9>"$WINEPREFIX.lock"
}

# This Wine build does not look in its own font folder; without Marlett the
# caption buttons show letters instead of their symbols.
qv_wine_fonts() {
  local marlett=/usr/share/wine/fonts/marlett.ttf fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -e "$fonts/marlett.ttf" ]; then
    ln -s "$marlett" "$fonts/marlett.ttf"
  fi
}

# Windows links its UI fonts to SimSun and its like, so Chinese text shows
# in the default GUI font whatever the language; Wine's links name SimSun
# too, which this machine has under another name. Without it the window run
# with ANSI code page 1252 or 950 shows boxes instead of the captions.
qv_wine_cjk_fallback() {
  qv_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v SimSun \
    /d 'WenQuanYi Micro Hei' /f >>"$WINEPREFIX.log" 2>&1 </dev/null 9>&- || true
}

# QV_WINE_DPI (e.g. 144): the system DPI of a prefix made now. Wine 8 reads
# it when each process starts, from HKCU\Control Panel\Desktop LogPixels,
# and only when that is absent from HKLM\System\CurrentControlSet\Hardware
# Profiles\Current\Software\Fonts LogPixels (which wineboot sets to 96), so
# the user's value is the one written. A prefix keeps the DPI it was made
# with, hence a path of its own (qv_wine_exports).
qv_wine_dpi() {
  [ -n "${QV_WINE_DPI:-}" ] || return 0
  qv_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$QV_WINE_DPI" /f \
    >>"$WINEPREFIX.log" 2>&1 </dev/null 9>&- || true
}

# Also the servers of this prefix's DPI variants (<prefix>-144dpi), which
# wine-run.sh starts for the tests that ask for them.
qv_wine_stop() {
  qv_wine_exports
  local prefix
  for prefix in "$WINEPREFIX" "$WINEPREFIX"-*dpi; do
    [ -d "$prefix" ] || continue
    WINEPREFIX=$prefix qv_wineserver -k >/dev/null 2>&1 || true
  done
}

# Starts Xvfb on a free display when none is set; QV_XVFB_PID names the one
# started here so that only it is stopped afterwards. QV_XVFB_SIZE: the
# screen's size (a window at 192 DPI needs more than the default).
qv_display_start() {
  QV_XVFB_PID=""
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 9 -screen 0 "${QV_XVFB_SIZE:-1280x1024}x24" -nolisten tcp 9>"$fifo" >/dev/null 2>&1 &
  QV_XVFB_PID=$!
  # QV_XVFB_WAIT: seconds to wait for it (the emulated machine is slow).
  read -r -t "${QV_XVFB_WAIT:-20}" display <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$display" ]; then
    echo "[display] Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$display"
  echo "[display] started Xvfb on $DISPLAY (pid $QV_XVFB_PID)" >&2
}

qv_display_stop() {
  if [ -n "${QV_XVFB_PID:-}" ]; then
    kill "$QV_XVFB_PID" 2>/dev/null || true
    wait "$QV_XVFB_PID" 2>/dev/null || true
    QV_XVFB_PID=""
  fi
}
