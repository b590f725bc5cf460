#!/usr/bin/env bash
# Runs the LAN test program inside the scanner namespace of a fresh virtual
# LAN, with a Wine prefix whose wineserver starts in that namespace, and
# removes everything afterwards, also when the test fails.
#   run_lan_test.sh <lan_probe_test.exe> <Wine prefix template folder>
# Exits 77 (skipped) where network namespaces cannot be made.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/lan/testbed.sh
source "$HERE/testbed.sh"

readonly SKIP=77
readonly WINE_DIED=3
program=${1:?usage: run_lan_test.sh <test.exe> <prefix template>}
template=${2:?usage: run_lan_test.sh <test.exe> <prefix template>}

say() { printf '[lan] %s\n' "$*"; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

reason=$(testbed_unavailable_reason)
if [ -n "$reason" ]; then
  say "skipped: $reason"
  exit $SKIP
fi
if [ ! -x "$TESTBED_WINE64" ]; then
  say "skipped: no 64-bit Wine at $TESTBED_WINE64"
  exit $SKIP
fi
# A console program: nothing in the namespace needs the caller's display.
unset DISPLAY

trap testbed_down EXIT
# A time-out of the caller ends the script through its EXIT trap too.
trap 'exit 143' TERM
trap 'exit 130' INT

# One run on a fresh bed. Returns the test program's status, or WINE_DIED
# when it failed after Wine's network service had gone.
run_once() {
  local start status
  start=$(now)
  testbed_up || return 1
  say "test bed up in $(elapsed "$start") s"
  start=$(now)
  testbed_wine_prepare "$template" || { say "could not start Wine in the scanner namespace"; return 1; }
  say "Wine prefix prepared and started in $(elapsed "$start") s"
  start=$(now)
  QV_LAN_TRUTH="Z:${TESTBED_TRUTH//\//\\}" testbed_wine "$program" --gtest_color=no \
    >"$TESTBED_DIR/test.out" 2>&1 </dev/null
  status=$?
  cat "$TESTBED_DIR/test.out"
  say "test program ran in $(elapsed "$start") s"
  if [ "$status" -ne 0 ] && ! testbed_wine_alive; then
    say "Wine's network service (winedevice.exe) is gone: every echo fails from then on."
    grep -h 'err:ntoskrnl' "$TESTBED_DIR/wine.log" 2>/dev/null | head -n 3
    return $WINE_DIED
  fi
  return "$status"
}

total=$(now)
run_once
status=$?
if [ "$status" -eq $WINE_DIED ]; then
  say "a known Wine fault, not the program's: trying once more on a new bed"
  testbed_down
  run_once
  status=$?
  if [ "$status" -eq $WINE_DIED ]; then
    say "Wine's network service died twice; the failures above are Wine's, not the program's"
    status=1
  fi
fi
say "LAN test took $(elapsed "$total") s in all"
exit "$status"
