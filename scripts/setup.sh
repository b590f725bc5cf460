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
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The list of what the machine must have is the library's, which every
# script checks before it calls this one.
source "$ROOT/scripts/lib.sh"
QV_SAY_TAG=setup

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing_packages() { qv_machine_missing | grep -v '^locale ' || true; }

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
  qv_on_exit 'rm -f "$apt_log"'
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

mapfile -t missing_locales < <(qv_machine_missing | sed -n 's/^locale \(.*\)\.UTF-8$/\1/p')
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
qv_wine_exports
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "preparing the Wine prefix $WINEPREFIX"
  qv_display_start
  qv_wine_start
  qv_wine_stop
  qv_display_stop
fi

say "done"
