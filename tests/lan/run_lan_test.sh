#!/usr/bin/env bash
# Runs a LAN test program inside the scanner namespace of a fresh virtual
# LAN, with a Wine prefix whose wineserver starts in that namespace, and
# removes everything afterwards, also when the test fails.
#   run_lan_test.sh <test.exe> <Wine prefix template folder> [program.exe]
# With a program (the scanner the test drives), the test gets a private
# virtual display and learns the program's path (QV_LAN_PROGRAM) and a file
# name for its export (QV_LAN_EXPORT). Every test gets a folder through
# which it may have Wine's network service stopped for a while
# (QV_LAN_CONTROL; see stall_begin).
# A Wine process that crashes (the program, the test or one of Wine's
# services) is reported as a crash, by name, as soon as Wine says so; a
# launch that Wine itself fails is said so and tried once more.
# Exits 77 (skipped) where network namespaces cannot be made.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/lan/testbed.sh
source "$HERE/testbed.sh"
QV_SAY_TAG=lan

readonly SKIP=77
readonly WINE_DIED=3
readonly CRASHED=4
# How long a test may go on after a crash line, to end by itself.
readonly CRASH_GRACE_S=10
test_program=${1:?usage: run_lan_test.sh <test.exe> <prefix template> [program.exe]}
template=${2:?usage: run_lan_test.sh <test.exe> <prefix template> [program.exe]}
program=${3:-}

reason=$(testbed_wine_unavailable_reason)
if [ -n "$reason" ]; then
  say "skipped: $reason"
  exit $SKIP
fi
# Nothing in the namespace uses the caller's display: a program under test
# gets a private one.
unset DISPLAY

# A stopped service is continued before anything else: nothing may be left
# stopped, whatever ends the run.
qv_on_exit 'stall_end; testbed_down; qv_display_stop'

# The X server's socket file reaches into the namespace; its abstract socket,
# which belongs to the network namespace it was opened in, does not.

# One run on a fresh bed. Returns the test program's status, or WINE_DIED
# when it failed after Wine's network service had gone or stopped answering.
run_once() {
  local start status
  start=$(qv_now)
  testbed_up || return 1
  say "test bed up in $(qv_elapsed "$start") s"
  start=$(qv_now)
  testbed_wine_prepare "$template" ${program:+"$(basename "$program")"} || return 1
  say "Wine prefix prepared and started in $(qv_elapsed "$start") s"
  start=$(qv_now)
  testbed_wine_launch "the test program" "$TESTBED_DIR/test.out" "$TESTBED_DIR/test.out" '^\[==========\]' \
    run_test_program
  status=$?
  cat "$TESTBED_DIR/test.out"
  say "test program ran in $(qv_elapsed "$start") s"
  local crashes
  crashes=$(cat "$TESTBED_DIR/crashes.txt")
  if [ -n "$crashes" ]; then
    sed 's/^/[lan] crash: /' <<<"$crashes"
    # One of Wine's own services crashing is Wine's known fault: once more.
    grep -qv '^[^:]*\(quorvane\|_test\)[^:]*:' <<<"$crashes" && return $WINE_DIED
    return $CRASHED
  fi
  local problem
  if [ "$status" -ne 0 ] && problem=$(testbed_wine_network_problem) && [ -n "$problem" ]; then
    say "$problem."
    grep -h 'err:ntoskrnl' "$TESTBED_DIR/wine.log" 2>/dev/null | head -n 3
    return $WINE_DIED
  fi
  return "$status"
}

# A Windows test cannot signal a Linux process, so it asks the harness to
# stop Wine's network service (the bed prefix's winedevice.exe processes)
# with SIGSTOP: it writes a number of seconds into stall-request in the
# control folder, whole (by a rename). The harness stops the processes,
# writes their PIDs to stall-stopped and leaves their continuation to a
# process of a session of its own, which sends SIGCONT once the seconds are
# over and then creates stall-continued. That process outlives the harness,
# so a harness killed outright (a CTest time-out kills the whole tree) still
# leaves nothing stopped. One stall at a time: a request made during a stall
# waits for its end. The run's end and the EXIT trap end a stall at once.
STALL_PIDS=""
STALL_CONTINUER=""

stall_begin() {
  local request=$CONTROL_DIR/stall-request seconds
  [ -z "$STALL_PIDS" ] && [ -f "$request" ] || return 0
  seconds=$(<"$request")
  rm -f "$request"
  if [[ ! $seconds =~ ^[0-9]+$ ]]; then
    say "not a stall of whole seconds: '$seconds'"
    return 0
  fi
  STALL_PIDS=$(testbed_winedevice_pids | paste -sd ' ')
  [ -n "$STALL_PIDS" ] || { say "no winedevice.exe of this prefix to stop"; return 0; }
  # Gone before stall-stopped appears: the test reads it only after that.
  rm -f "$CONTROL_DIR/stall-continued"
  # shellcheck disable=SC2086 # one PID a word
  kill -STOP $STALL_PIDS
  # Started from a subshell that ends at once, so it is no child of the
  # harness; setsid makes its PID its process group's.
  # shellcheck disable=SC2016 # expanded by the continuer
  STALL_CONTINUER=$( (setsid bash -c 'sleep "$1"; kill -CONT $2; : >"$3"' continuer "$seconds" "$STALL_PIDS" \
    "$CONTROL_DIR/stall-continued" </dev/null >/dev/null 2>&1 & echo $!) )
  echo "$STALL_PIDS" >"$CONTROL_DIR/stall-stopped.part"
  mv "$CONTROL_DIR/stall-stopped.part" "$CONTROL_DIR/stall-stopped"
  say "stopped Wine's network service (winedevice.exe $STALL_PIDS) for $seconds s"
}

# Notes a stall whose continuer has done its part.
stall_over() {
  [ -n "$STALL_PIDS" ] && [ -f "$CONTROL_DIR/stall-continued" ] || return 0
  say "continued Wine's network service (winedevice.exe $STALL_PIDS)"
  STALL_PIDS=""
  STALL_CONTINUER=""
}

stall_end() {
  [ -n "${STALL_PIDS:-}" ] || return 0
  # The continuer's group: its shell and its sleep.
  kill -- "-$STALL_CONTINUER" 2>/dev/null
  # shellcheck disable=SC2086 # one PID a word
  kill -CONT $STALL_PIDS 2>/dev/null
  : >"$CONTROL_DIR/stall-continued"
  say "continued Wine's network service (winedevice.exe $STALL_PIDS) before its time"
  STALL_PIDS=""
  STALL_CONTINUER=""
}

# Who may have printed a crash line into the test's output.
test_processes() {
  printf '%s' "$(basename "$test_program")"
  [ -z "$program" ] || printf ' or %s' "$(basename "$program")"
}

# The test program in the scanner namespace, watched: once Wine reports a
# crash of any of the prefix's processes, the test gets a short grace to end
# and is then ended, so a crash never waits for the test's own time limits.
# Its output (and that of the program it drives) is test.out.
run_test_program() {
  CONTROL_DIR=$TESTBED_DIR/control
  rm -rf "$CONTROL_DIR"
  mkdir -p "$CONTROL_DIR" || return 1
  # Directly, not through a shell function: $! must be the test program.
  QV_LAN_TRUTH=$(qv_windows_path "$TESTBED_TRUTH") \
    QV_LAN_PROGRAM=${program:+$(qv_windows_path "$program")} \
    QV_LAN_EXPORT=$(qv_windows_path "$TESTBED_DIR/export.txt") \
    QV_LAN_CONTROL=$(qv_windows_path "$CONTROL_DIR") \
    ip netns exec "$TESTBED_SCANNER_NS" "$TESTBED_WINE" "$test_program" --gtest_color=no \
    >"$TESTBED_DIR/test.out" 2>&1 </dev/null &
  local pid=$! crash_at=""
  rm -f "$TESTBED_DIR/crashes.txt"
  while kill -0 "$pid" 2>/dev/null; do
    stall_begin
    stall_over
    if [ -z "$crash_at" ]; then
      if testbed_wine_crash_seen "$TESTBED_LAUNCH_MARK" "$TESTBED_DIR/test.out"; then
        crash_at=$SECONDS
        # Named now, while the crashed process may still be listed, or
        # after it has gone since the last look.
        sleep 2
        testbed_wine_crashes "$TESTBED_LAUNCH_MARK" - "$TESTBED_DIR/test.out" "$(test_processes)" >"$TESTBED_DIR/crashes.txt"
      else
        testbed_wine_processes >"$TESTBED_DIR/processes.mark"
      fi
    elif [ $((SECONDS - crash_at)) -ge $CRASH_GRACE_S ]; then
      say "ending the test program $CRASH_GRACE_S s after a crash"
      kill "$pid" 2>/dev/null
    fi
    sleep 1
  done
  wait "$pid"
  local status=$?
  stall_over
  stall_end
  [ -f "$TESTBED_DIR/crashes.txt" ] ||
    testbed_wine_crashes "$TESTBED_LAUNCH_MARK" - "$TESTBED_DIR/test.out" "$(test_processes)" >"$TESTBED_DIR/crashes.txt"
  return $status
}

total=$(qv_now)
if [ -n "$program" ]; then
  qv_display_start || exit 1
fi
run_once
status=$?
if [ "$status" -eq $CRASHED ]; then
  say "the crash above ended the test: a crash, not a time-out"
  status=1
elif [ "$status" -eq $WINE_DIED ]; then
  say "a known Wine fault, not the program's: trying once more on a new bed"
  testbed_down
  run_once
  status=$?
  if [ "$status" -eq $WINE_DIED ]; then
    say "Wine's network service failed twice; the failures above are Wine's, not the program's"
    status=1
  fi
fi
say "LAN test took $(qv_elapsed "$total") s in all"
exit "$status"
