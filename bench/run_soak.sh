#!/usr/bin/env bash
# The soak: many sweeps of a dense virtual LAN by the real program (64-bit
# build, under Wine), each driven from outside the program by soak_bench.exe,
# spread over restarts of the program and of Wine, while busy loops keep the
# machine's cores loaded.
#
#   LAN: 10.77.5.0/24 of tests/lan/testbed.sh with 100 more named hosts:
#        103 hosts answer at once, one (10.77.5.50) answers 40 ms late, one
#        ignores echoes and the rest of the /24 is silent; every host has
#        its own MAC and all but one a name.
#   scan: 10.77.5.1-254, 100 workers, 100 ms time-out.
#
#   bench/run_soak.sh [sweeps]          (default 200; root)
#
# Per sweep: did it end (the idle state held a second), the hosts found
# against the bed's truth (names and MACs), its time against the floor
# (254 dispatches x 10 ms + one time-out). At the end: sweeps, crashes
# (which Wine process, from its own output), sweeps that did not end, hosts
# missed or wrong, and the sweep's ratio to the floor (median and worst).
# Exits 0 when every sweep ended with every host right and nothing crashed,
# 1 otherwise, 77 where network namespaces cannot be made.
#
# Settings (environment):
#   SOAK_SWEEPS_PER_PROGRAM  sweeps of one program instance (5)
#   SOAK_PROGRAMS_PER_WINE   program instances per wineserver (4)
#   SOAK_BUSY_LOOPS          busy loops running meanwhile (2)
#   SOAK_MINUTES             no new program instance after this many minutes
#                            (unset: none); the summary says so
#   SOAK_CLOSE_AFTER_MS      before each instance's sweeps, another instance's
#                            window is closed this long into a scan (unset:
#                            never); Wine is then restarted only after a failure
#   SOAK_SERVICE_WINEDEBUG   WINEDEBUG of Wine's services (fixme-all), e.g.
#   SOAK_PROGRAM_WINEDEBUG   WINEDEBUG of the program (fixme-all)   -all,+heap
#   QV_WINE_CRASH_DEBUGGER=1 Wine's crash debugger on: winedbg --auto writes
#                            its report into the crashed process's log
#   SOAK_LOG_DIR             where every run's logs are kept
#                            (build/win64/soak-logs)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
# shellcheck source=tests/lan/testbed.sh
source tests/lan/testbed.sh
QV_SAY_TAG=soak

SWEEPS=${1:-200}
PER_PROGRAM=${SOAK_SWEEPS_PER_PROGRAM:-5}
PROGRAMS_PER_WINE=${SOAK_PROGRAMS_PER_WINE:-4}
BUSY_LOOPS=${SOAK_BUSY_LOOPS:-2}
MINUTES=${SOAK_MINUTES:-}
CLOSE_AFTER_MS=${SOAK_CLOSE_AFTER_MS:-}
SERVICE_WINEDEBUG=${SOAK_SERVICE_WINEDEBUG:-fixme-all}
PROGRAM_WINEDEBUG=${SOAK_PROGRAM_WINEDEBUG:-fixme-all}
LOGS=${SOAK_LOG_DIR:-$ROOT/build/win64/soak-logs}
PROGRAM=$ROOT/build/win64/src/app/quorvane.exe
BENCH=$ROOT/build/win64/bench/soak_bench.exe
TEMPLATE=$ROOT/build/win64/lan-wineprefix
readonly WORKERS=100 TIMEOUT_MS=100 SKIP=77

reason=$(testbed_wine_unavailable_reason)
if [ -n "$reason" ]; then
  say "skipped: $reason"
  exit $SKIP
fi

qv_require_machine || exit 1
qv_build win64 quorvane soak_bench || exit 1
rm -rf "$LOGS"
mkdir -p "$LOGS" || exit 1
cc -O2 -Wall -o "$LOGS/late_replier" bench/late_replier.c || exit 1

BUSY_PIDS=()
cleanup() {
  local pid
  for pid in "${BUSY_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${BUSY_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  [ -z "${TESTBED_DIR:-}" ] || cp "$TESTBED_DIR/wine.log" "$LOGS/wine.log" 2>/dev/null
  testbed_down
  qv_display_stop
}
qv_on_exit cleanup

unset DISPLAY
qv_display_start || exit 1

say "building the LAN: 103 hosts answering at once, one 40 ms late, one ignoring echoes"
TESTBED_EXTRA_HOSTS=100 TESTBED_LATE_REPLIER=$LOGS/late_replier testbed_up || exit 1

[ "${QV_WINE_CRASH_DEBUGGER:-0}" != 1 ] ||
  say "Wine's crash debugger is on (winedbg --auto): its reports land in the crashed process's log"
WINEDEBUG=$SERVICE_WINEDEBUG testbed_wine_prepare "$TEMPLATE" quorvane.exe || exit 1

for ((i = 0; i < BUSY_LOOPS; i++)); do
  bash -c 'while :; do :; done' &
  BUSY_PIDS+=($!)
done
say "${#BUSY_PIDS[@]} busy loops running (pids ${BUSY_PIDS[*]})"

WINE_STARTS=1
PROGRAM_STARTS=0
CRASHES=0
LAUNCH_FAILURES=0
: >"$LOGS/sweeps.txt"
: >"$LOGS/crashes.txt"

restart_wine() {
  say "a fresh wineserver"
  WINEDEBUG=$SERVICE_WINEDEBUG testbed_wine_restart || return 1
  WINE_STARTS=$((WINE_STARTS + 1))
}

# One program instance: <run number> <sweeps>. Its output and errors (and
# the program's, which it shares) are kept as run-<n>.out and run-<n>.err.
# Returns 0 when nothing went wrong.
# drive <output> <errors> <soak_bench options...>
drive() {
  local out=$1 err=$2
  shift 2
  WINEDEBUG=$PROGRAM_WINEDEBUG testbed_wine "$BENCH" "$(qv_windows_path "$PROGRAM")" "$TESTBED_SCANNER_ADDRESS" \
    "$TESTBED_NET.1" "$TESTBED_NET.254" "$WORKERS" "$TIMEOUT_MS" "$@" >"$out" 2>"$err" </dev/null
}

run_program() {
  local run=$1 count=$2 out=$LOGS/run-$1.out err=$LOGS/run-$1.err status
  local options=(--truth "$(qv_windows_path "$TESTBED_TRUTH")" --sweeps "$count")
  [ -z "$CLOSE_AFTER_MS" ] || options+=(--close-after "$CLOSE_AFTER_MS")
  testbed_wine_launch "run $run's driver" "$err" "$out" '^sweep\|^close' drive "$out" "$err" "${options[@]}"
  status=$?
  LAUNCH_FAILURES=$((LAUNCH_FAILURES + TESTBED_LAUNCH_RETRIED))
  PROGRAM_STARTS=$((PROGRAM_STARTS + 1))
  grep -a '^sweep' "$out" >>"$LOGS/sweeps.txt"
  grep -a '^close' "$out" | sed "s/^/[soak] run $run: /"
  local crashes program=soak_bench.exe
  grep -aq '^program_ended' "$out" && program=quorvane.exe
  crashes=$(testbed_wine_crashes "$TESTBED_LAUNCH_MARK" "$program" "$err")
  if [ -n "$crashes" ]; then
    CRASHES=$((CRASHES + $(grep -c . <<<"$crashes")))
    sed "s/^/run $run: /" <<<"$crashes" | tee -a "$LOGS/crashes.txt" | sed 's/^/[soak] crash: /'
  fi
  grep -a '^program_ended' "$out" | sed "s/^/[soak] run $run: the program's process ended: /"
  grep -a '^sweep ended=0' "$out" | iconv -f GBK -t UTF-8 -c | sed "s/^/[soak] run $run: did not end: /"
  [ "$status" -eq 0 ] && [ -z "$crashes" ] && [ -z "$TESTBED_LAUNCH_FAILURE" ] && return 0
  [ "$status" -eq 4 ] && say "run $run: the program could not be set up: $(tail -n 1 "$err")"
  local problem
  problem=$(testbed_wine_network_problem)
  [ -z "$problem" ] || say "run $run: $problem"
  return 1
}

say "$SWEEPS sweeps of $TESTBED_NET.1-254, $WORKERS workers, $TIMEOUT_MS ms time-out; $PER_PROGRAM a program," \
  "$PROGRAMS_PER_WINE programs a wineserver; logs in $LOGS"
done_sweeps=0
run=0
since_wine=0
while [ "$done_sweeps" -lt "$SWEEPS" ]; do
  if [ -n "$MINUTES" ] && [ "$SECONDS" -ge $((MINUTES * 60)) ]; then
    say "stopped after $MINUTES minutes, as asked"
    break
  fi
  if [ "$since_wine" -ge "$PROGRAMS_PER_WINE" ]; then
    restart_wine || { say "Wine could not be started again"; break; }
    since_wine=0
  fi
  run=$((run + 1))
  count=$((SWEEPS - done_sweeps < PER_PROGRAM ? SWEEPS - done_sweeps : PER_PROGRAM))
  before=$(grep -ac . "$LOGS/sweeps.txt")
  run_program "$run" "$count"
  healthy=$?
  after=$(grep -ac . "$LOGS/sweeps.txt")
  # A run that lost its program still counts the sweep it was in.
  done_sweeps=$((done_sweeps + (after - before > 0 ? after - before : 0) + $(grep -ac '^program_ended' "$LOGS/run-$run.out")))
  [ $((after - before)) -gt 0 ] || [ "$healthy" -eq 0 ] || [ "$run" -lt 3 ] ||
    { say "no sweep in run $run: giving up"; break; }
  since_wine=$((since_wine + 1))
  # A failure may leave Wine's network service wedged: the next instance
  # gets a fresh wineserver.
  [ "$healthy" -eq 0 ] || since_wine=$PROGRAMS_PER_WINE
  say "run $run: $((after - before)) sweeps; $done_sweeps of $SWEEPS done"
done

program_ended=$(cat "$LOGS"/run-*.out 2>/dev/null | grep -ac '^program_ended')
awk -v asked="$SWEEPS" -v programs="$PROGRAM_STARTS" -v wines="$WINE_STARTS" -v busy="${#BUSY_PIDS[@]}" \
  -v crashes="$CRASHES" -v lost="$program_ended" -v launches="$LAUNCH_FAILURES" '
  function value(key,   i, pair) {
    for (i = 1; i <= NF; i++) { split($i, pair, "="); if (pair[1] == key) return pair[2] }
    return ""
  }
  {
    sweeps++
    if (value("ended") != 1) { unended++; next }
    ratio[++n] = value("wall_ms") / value("floor_ms")
    expected = value("expected"); floor_ms = value("floor_ms")
    missed += value("expected") - value("found")
    names += value("wrong_names"); macs += value("wrong_macs"); extra += value("not_in_truth")
  }
  END {
    unended += lost
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (ratio[j] < ratio[i]) { t = ratio[i]; ratio[i] = ratio[j]; ratio[j] = t }
    printf "[soak] sweeps: %d of %d asked (%d program starts, %d wineservers, %d busy loops)\n", sweeps + lost, asked, programs, wines, busy
    printf "[soak] crashes: %d%s\n", crashes, launches ? sprintf(" (and %d Wine launches that failed and were tried again)", launches) : ""
    printf "[soak] sweeps that did not end: %d\n", unended
    printf "[soak] hosts missed: %d, wrong names: %d, wrong MACs: %d, rows not answering in truth: %d (%d answering hosts a sweep)\n", missed, names, macs, extra, expected
    if (n) printf "[soak] sweep / floor (%.2f s): median %.3f, worst %.3f (%d sweeps that ended)\n", floor_ms / 1000, ratio[int((n + 1) / 2)], ratio[n], n
    ok = crashes == 0 && unended == 0 && missed == 0 && names == 0 && macs == 0 && extra == 0 && sweeps + lost >= asked && n > 0
    exit ok ? 0 : 1
  }' "$LOGS/sweeps.txt"
