#!/usr/bin/env bash
# Prepares a Debian 12 machine to build, test and run the scanner: the MinGW
# cross compiler, 64-bit Wine, a virtual display, a CJK font, the zh_CN
# locale (so Wine's ANSI code page is 936), the network tools of the LAN
# tests and the emulator that runs the 32-bit tests (scripts/test-i686.sh).
# The host gets no 32-bit Wine: our build machines' kernels run no 32-bit
# code, and the emulated machine brings its own. Safe to run again: it only
# installs what is missing. Exits non-zero, naming the packages, when
# anything cannot be installed.
set -euo pipefail

say() { printf '[setup] %s\n' "$*"; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
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

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

# A mirror in the middle of a sync serves some index files at the wrong size,
# and apt-get update then fails although the packages needed here may all be
# in the indexes it did read: only a package that cannot be installed is a
# failure.
update_indexes() {
  local log=$1
  if $SUDO apt-get update -q -o Acquire::Retries=3 >"$log" 2>&1; then return 0; fi
  say "warning: some package indexes could not be read; going on with the ones that could:"
  grep -E '^(E|W|Err):' "$log" | sed 's/^/[setup]   /' | head -n 10
}

# Says, for each package that cannot be installed, why: not in any index
# read, or what apt-get said of it.
explain_install_failure() {
  local log=$1 p candidate
  shift
  say "could not install every package:"
  for p in "$@"; do
    candidate=$(apt-cache policy "$p" 2>/dev/null | awk '/Candidate:/ { print $2 }')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
      say "  $p: no package index that could be read offers it"
    fi
  done
  grep -E '^ *[^ ]+ : (Depends|PreDepends|Breaks|Conflicts)|^E:' "$log" | sed 's/^/[setup]   /' | head -n 20
}

mapfile -t TODO < <(missing_packages)
if [ "${#TODO[@]}" -gt 0 ]; then
  say "installing ${#TODO[@]} packages: ${TODO[*]}"
  say "(this takes a few minutes on a fresh machine)"
  export DEBIAN_FRONTEND=noninteractive
  apt_log=$(mktemp)
  trap 'rm -f "$apt_log"' EXIT
  update_indexes "$apt_log"
  if ! $SUDO apt-get install -y -q --no-install-recommends "${TODO[@]}" >"$apt_log" 2>&1; then
    explain_install_failure "$apt_log" "${TODO[@]}"
    exit 1
  fi
  mapfile -t LEFT < <(missing_packages)
  if [ "${#LEFT[@]}" -gt 0 ]; then
    say "apt-get finished, yet these are still not installed: ${LEFT[*]}"
    exit 1
  fi
else
  say "all packages present"
fi

# Wine takes its ANSI code page from the locale: the program's own (936)
# and the two others its window is tested under (1252, 950).
missing_locales=()
for wanted in zh_CN en_US zh_TW; do
  locale -a 2>/dev/null | grep -qi "^$wanted\.utf-\?8\$" || missing_locales+=("$wanted")
done
if [ ${#missing_locales[@]} -gt 0 ]; then
  say "generating the locales ${missing_locales[*]/%/.UTF-8}"
  for wanted in "${missing_locales[@]}"; do
    $SUDO sed -i "s/^# *\($wanted.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$wanted.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen >/dev/null
fi

# The Wine prefix of the tested build, created once here so that the first
# test run does not pay for it (it needs a display while it is made).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
qv_wine_exports
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "preparing the Wine prefix $WINEPREFIX"
  qv_display_start
  qv_wine_start
  qv_wine_stop
  qv_display_stop
fi

say "done"
