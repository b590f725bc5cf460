#!/usr/bin/env bash
# Prepares a Debian 12 machine to build, test and run the scanner: the MinGW
# cross compiler, Wine (32-bit), a virtual display, a CJK font, the zh_CN
# locale (so Wine's ANSI code page is 936), the network tools of the LAN
# tests and the emulator that runs the 32-bit tests (scripts/test-i686.sh).
# Safe to run again: it only installs what is missing.
set -euo pipefail

say() { printf '[setup] %s\n' "$*"; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  cmake ninja-build g++ make pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64 mingw-w64-tools
  googletest
  wine wine32:i386 wine64
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

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "enabling the i386 architecture (Wine needs its 32-bit libraries)"
  $SUDO dpkg --add-architecture i386
  NEED_UPDATE=1
fi

mapfile -t TODO < <(missing_packages)
if [ "${#TODO[@]}" -gt 0 ]; then
  say "installing ${#TODO[@]} packages: ${TODO[*]}"
  say "(this takes a few minutes on a fresh machine)"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${TODO[@]}"
else
  say "all packages present"
fi

if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  say "generating the zh_CN.UTF-8 locale"
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
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
