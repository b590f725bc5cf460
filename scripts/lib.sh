# shellcheck shell=bash
# The one shell library of the project: every script, the test bed, the
# benchmarks and the emulated machine's jobs source it. It defines functions
# and variables and exports nothing until they are called:
#   the preamble     say, fail, qv_now, qv_elapsed, qv_windows_path, qv_on_exit
#   the machine      qv_machine_missing, qv_require_machine (scripts/setup.sh
#                    installs the same list), qv_build
#   Wine             qv_wine_exports, qv_wine, qv_wineserver, qv_wine_make_prefix,
#                    qv_wine_start, qv_wine_stop, qv_wine_unmanaged_windows
#   the display      qv_display_start, qv_display_stop
# Wine inside a network namespace is the test bed's (tests/lan/testbed.sh),
# which sources this library too.

QV_ROOT=${QV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

# QV_SAY_TAG names the script in every line it says; QV_SAY_FD=2 sends them
# to the errors, for a script whose output is its answer.
say() { printf '[%s] %s\n' "${QV_SAY_TAG:-quorvane}" "$*" >&"${QV_SAY_FD:-1}"; }
fail() {
  say "FAILED: $*"
  exit 1
}
qv_now() { date +%s.%N; }
# Seconds since a qv_now, to a tenth.
qv_elapsed() { awk -v a="$1" -v b="$(qv_now)" 'BEGIN { printf "%.1f", b - a }'; }
# A Linux path as a Windows program under Wine names it.
qv_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The clean-up runs however the script ends: an interrupt or a caller's
# time-out ends it through its EXIT trap, with the status a signal gives.
qv_on_exit() {
  # shellcheck disable=SC2064 # the command is the caller's, fixed now
  trap "$1" EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# What a machine must have to build, test and run the program: the packages
# scripts/setup.sh installs, and the locales whose ANSI code pages the
# window is tested under (Wine takes it from the locale: zh_CN 936, en_US
# 1252, zh_TW 950).
QV_MACHINE_PACKAGES=(
  cmake ninja-build g++ make pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64 mingw-w64-tools
  googletest
  wine wine64
  xvfb x11-apps xdotool imagemagick fonts-wqy-microhei fonts-wine
  locales iproute2 iputils-ping procps
  clang libclang-rt-14-dev
  fping nmap
  zip
  qemu-system-x86 debootstrap e2fsprogs
)
QV_MACHINE_LOCALES=(zh_CN en_US zh_TW)

# Prints what of that list is missing, one item a line: a package's name, or
# a locale as "locale <name>.UTF-8".
qv_machine_missing() {
  comm -23 <(printf '%s\n' "${QV_MACHINE_PACKAGES[@]}" | sort -u) \
    <(dpkg-query -W -f='${Package} ${Status}\n' "${QV_MACHINE_PACKAGES[@]}" 2>/dev/null |
      awk '$NF == "installed" { print $1 }' | sort -u)
  local wanted
  for wanted in "${QV_MACHINE_LOCALES[@]}"; do
    locale -a 2>/dev/null | grep -qi "^$wanted\.utf-\?8\$" || echo "locale $wanted.UTF-8"
  done
}

# Runs scripts/setup.sh when anything of the list is missing.
qv_require_machine() {
  local missing
  missing=$(qv_machine_missing | paste -sd ' ')
  [ -n "$missing" ] || return 0
  say "this machine lacks $missing: running scripts/setup.sh"
  "$QV_ROOT/scripts/setup.sh" || { say "setup failed"; return 1; }
}

# qv_build <preset> [target...]: configures and builds the preset (its
# targets, or all), the whole log in build-<preset>.log; every 25th step is
# shown, so a long build is never a silent minute.
qv_build() {
  local - preset=$1 log=$QV_ROOT/build-$1.log
  set -o pipefail
  shift
  say "configuring and building '$preset'${1:+ ($*)} (log: build-$preset.log)"
  if ! (cd "$QV_ROOT" && cmake --preset "$preset") >"$log" 2>&1; then
    tail -n 40 "$log"
    say "configuring '$preset' failed"
    return 1
  fi
  if ! (cd "$QV_ROOT" && cmake --build --preset "$preset" ${1:+--target "$@"}) 2>&1 | tee -a "$log" |
    awk -v tag="[${QV_SAY_TAG:-quorvane}]" \
      '/^\[[0-9]+\/[0-9]+\]/ { if (++n % 25 == 1) { print tag "   " substr($0, 1, 110); fflush() } }'; then
    grep -E 'error|FAILED' "$log" | head -n 20
    say "build '$preset' failed (full log: build-$preset.log)"
    return 1
  fi
}

# No Mono or Gecko installer dialogs when a prefix is created; and, for
# everything but winedbg run on purpose, no crash debugger: a crashed
# process ends at once and says so, instead of waiting in the debugger
# while its caller waits for it. QV_WINE_CRASH_DEBUGGER=1 turns it on, for
# hunting a crash: winedbg --auto then writes its report into the crashed
# process's output.
QV_WINE_NO_INSTALLERS="mscoree,mshtml="
QV_WINE_DLL_OVERRIDES="$QV_WINE_NO_INSTALLERS;winedbg.exe=d"
[ "${QV_WINE_CRASH_DEBUGGER:-0}" != 1 ] || QV_WINE_DLL_OVERRIDES=$QV_WINE_NO_INSTALLERS

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
  export WINEDLLOVERRIDES=$QV_WINE_DLL_OVERRIDES
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

qv_wineserver_path() {
  if [ -x /usr/lib/wine/wineserver64 ]; then echo /usr/lib/wine/wineserver64; else command -v wineserver; fi
}

qv_wineserver() {
  "$(qv_wineserver_path)" "$@"
}

# Creates the prefix (WINEPREFIX, or the one qv_wine_exports names) unless
# it has its registry already; a folder without one is what a creation cut
# short left, and goes first. Returns once the prefix's wineserver has
# ended, so that a copy is never taken while the registry is still being
# written. Nothing started under the lock may inherit the lock's descriptor:
# Wine's services would hold it for ever.
qv_wine_make_prefix() {
  qv_wine_exports
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      QV_SAY_TAG=wine QV_SAY_FD=2 say "creating the Wine prefix $WINEPREFIX (about 15 s, once)"
      rm -rf "$WINEPREFIX"
      qv_wine wineboot -i >"$WINEPREFIX.log" 2>&1 </dev/null 9>&- || true
      qv_wine_cjk_fallback
      qv_wine_dpi
      qv_wineserver -w 9>&- || true
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        QV_SAY_TAG=wine QV_SAY_FD=2 say "wineboot did not make the prefix $WINEPREFIX; the end of its log:"
        tail -n 30 "$WINEPREFIX.log" >&2
        exit 1
      fi
    fi
    qv_wine_fonts
  ) 9>"$WINEPREFIX.lock"
}

# Keeps the prefix's wineserver running, its services started, with their
# output sent to a log: Wine's services inherit stdout, and a pipe they hold
# open would keep a caller waiting for ever.
qv_wine_start() {
  qv_wine_make_prefix || return 1
  qv_wineserver -p >/dev/null 2>&1 </dev/null || true  # already running
  qv_wine cmd /c exit >>"$WINEPREFIX.log" 2>&1 </dev/null || true
}

# A bare virtual display has no window manager: a top-level window that
# Wine treats as managed waits 2 s for one whenever it is destroyed. The
# programs named (by file name, and only they) get unmanaged windows, all in
# one registry import, as every Wine start costs seconds in the emulated
# machine.
#   qv_wine_unmanaged_windows <how to run Wine: qv_wine | testbed_wine> <program.exe>...
qv_wine_unmanaged_windows() {
  local wine=$1 file exe status=0
  shift
  file=$(mktemp --suffix=.reg "${TMPDIR:-/tmp}/qv-unmanaged.XXXXXX") || return 1
  {
    printf 'REGEDIT4\n\n'
    for exe; do
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\X11 Driver]\n"Managed"="N"\n\n' "$exe"
    done
  } >"$file"
  "$wine" regedit /S "$(qv_windows_path "$file")" >>"$WINEPREFIX.log" 2>&1 </dev/null || status=$?
  rm -f "$file"
  return $status
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
    QV_SAY_TAG=display QV_SAY_FD=2 say "Xvfb did not start"
    return 1
  fi
  export DISPLAY=":$display"
  QV_SAY_TAG=display QV_SAY_FD=2 say "started Xvfb on $DISPLAY (pid $QV_XVFB_PID)"
}

qv_display_stop() {
  if [ -n "${QV_XVFB_PID:-}" ]; then
    kill "$QV_XVFB_PID" 2>/dev/null || true
    wait "$QV_XVFB_PID" 2>/dev/null || true
    QV_XVFB_PID=""
  fi
}
