#!/usr/bin/env bash
# Watch a real scan without touching any real network: builds the scanner,
# builds the virtual LAN of the tests (network namespaces joined by a bridge,
# with no route out) and opens the scanner inside it under Wine. Its range is
# pre-filled with the virtual LAN's own; press 开始 and the list fills with
# the test hosts. Closing the window (or Ctrl+C here) removes everything.
#
# The window opens on your display (DISPLAY) when the virtual LAN can reach
# it, else on a private virtual display, which this script names so that you
# can look at it (xwd) or close the window from another shell.
# Needs root (network namespaces); exits 77 where they cannot be made.
# TESTBED_EXTRA_HOSTS (default 6, at most 100) adds more live hosts.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
# shellcheck source=tests/lan/testbed.sh
source tests/lan/testbed.sh
QV_SAY_TAG=demo

PROGRAM=build/win64/src/app/quorvane.exe
TEMPLATE=$ROOT/build/win64/lan-wineprefix
DESKTOP_SIZE=800x700
export TESTBED_EXTRA_HOSTS=${TESTBED_EXTRA_HOSTS:-6}

reason=$(testbed_unavailable_reason)
if [ -n "$reason" ]; then
  say "cannot build the virtual LAN: $reason"
  exit 77
fi
qv_require_machine || exit 1
qv_build win64 quorvane || exit 1

PROGRAM_PID=""
cleanup() {
  if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
    kill "$PROGRAM_PID" 2>/dev/null
    wait "$PROGRAM_PID" 2>/dev/null
  fi
  say "removing the virtual LAN and its Wine prefix"
  testbed_down
  qv_display_stop
}
qv_on_exit cleanup

say "building the virtual LAN: scanner namespace with the bridge 10.77.5.1/24, one namespace per test host"
testbed_up || exit 1
say "the hosts it holds (address, name, MAC, answers echo):"
grep -v '^#' "$TESTBED_TRUTH" | awk -F'\t' '{ printf "         %-12s %-22s %-17s %s\n", $1, ($2 == "" ? "-" : $2), ($3 == "" ? "-" : $3), $4 }'

# Only the display's socket file reaches into the namespace; a display over
# TCP (ssh -X) or an abstract socket alone cannot.
if [ -n "${DISPLAY:-}" ] && ! testbed_exec xdotool getdisplaygeometry >/dev/null 2>&1; then
  say "your display $DISPLAY cannot be reached from inside the virtual LAN; using a private one"
  unset DISPLAY
fi
PRIVATE_DISPLAY=""
if [ -z "${DISPLAY:-}" ]; then
  qv_display_start || exit 1
  PRIVATE_DISPLAY=$DISPLAY
  say "no usable DISPLAY: the window opens on the private virtual display $DISPLAY, inside a Wine desktop"
  say "  look at it:   DISPLAY=$DISPLAY xwd -root -silent | convert xwd:- scan.png"
  say "  close it:     DISPLAY=$DISPLAY xdotool search --name '^Quorvane V2\\.2\$' key Escape   (or Ctrl+C here)"
fi

say "starting Wine inside the scanner namespace (a prefix of this run, copied from $TEMPLATE)"
testbed_wine_prepare "$TEMPLATE" || exit 1

say "opening the scanner: its range is pre-filled with the virtual LAN's, $TESTBED_NET.1 to $TESTBED_NET.255"
say "press 开始 to scan; close the window to end the demo"
open_program() {
  # Started directly, not through a shell function, so that $! is Wine itself.
  if [ -n "$PRIVATE_DISPLAY" ]; then
    # Without a window manager, a Wine desktop draws the window's frame.
    ip netns exec "$TESTBED_SCANNER_NS" "$TESTBED_WINE" explorer "/desktop=QuorvaneDemo,$DESKTOP_SIZE" "$PROGRAM" \
      >"$TESTBED_DIR/program.log" 2>&1 </dev/null &
  else
    ip netns exec "$TESTBED_SCANNER_NS" "$TESTBED_WINE" "$PROGRAM" >"$TESTBED_DIR/program.log" 2>&1 </dev/null &
  fi
  PROGRAM_PID=$!
  wait "$PROGRAM_PID"
  PROGRAM_PID=""
}

testbed_wine_launch "the scanner" "$TESTBED_DIR/program.log" "$TESTBED_DIR/program.log" "" open_program
crashes=$(testbed_wine_crashes "$TESTBED_LAUNCH_MARK" quorvane.exe "$TESTBED_DIR/program.log")
if [ -n "$crashes" ]; then
  sed 's/^/[demo] crash: /' <<<"$crashes"
  say "the crash above ended the demo"
  exit 1
fi
if ! testbed_wine_alive; then
  say "note: Wine's network service (winedevice.exe) had gone; echoes fail from then on (a Wine fault)"
fi
say "the window was closed"
