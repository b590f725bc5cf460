#!/usr/bin/env bash
# How Wine's network service copes with reads of a neighbour table that
# grows and shrinks, as the scanner namespace's table does during every
# sweep. Sends nothing: the scanner namespace of a test bed with no hosts,
# whose table is filled and emptied by `ip neigh` (permanent rows on a veth
# pair, a few more veth pairs beside it for multicast rows) while
# neighbour_table_reads.exe, under Wine in that namespace, calls
# GetIpNetTable from two threads.
#
#   bench/run_neighbour_churn.sh [seconds]     (default 180; root)
#
# Prints the reads made and every crash, naming the process; with
# QV_WINE_CRASH_DEBUGGER=1, winedbg --auto writes each crashed process's
# report into the logs, and the call it crashed in is shown. Exits 0 when
# nothing crashed and Wine's heap checks (when on) found nothing, 1
# otherwise, 77 where namespaces cannot be made.
#
#   CHURN_ROWS       rows added two at a time, then removed, each round (100)
#   CHURN_WINEDEBUG  WINEDEBUG of every Wine process (fixme-all); with
#                    -all,+heap,+pid Wine checks its heaps on every call and
#                    names the process of each line
#   CHURN_LOG_DIR    where the logs are kept (build/win64/churn-logs)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
# shellcheck source=tests/lan/testbed.sh
source tests/lan/testbed.sh
QV_SAY_TAG=churn

SECONDS_TO_RUN=${1:-180}
ROWS=${CHURN_ROWS:-100}
LOGS=${CHURN_LOG_DIR:-$ROOT/build/win64/churn-logs}
READER=$ROOT/build/win64/bench/neighbour_table_reads.exe
TEMPLATE=$ROOT/build/win64/lan-wineprefix

reason=$(testbed_unavailable_reason)
if [ -n "$reason" ]; then
  say "skipped: $reason"
  exit 77
fi
qv_require_machine || exit 1
qv_build win64 neighbour_table_reads || exit 1
rm -rf "$LOGS"
mkdir -p "$LOGS" || exit 1

CHURN_PID=""
cleanup() {
  if [ -n "$CHURN_PID" ]; then kill "$CHURN_PID" 2>/dev/null; wait "$CHURN_PID" 2>/dev/null; fi
  [ -z "${TESTBED_DIR:-}" ] || cp "$TESTBED_DIR/wine.log" "$LOGS/wine.log" 2>/dev/null
  testbed_down
}
qv_on_exit cleanup

testbed_begin || exit 1
testbed_add_scanner 24 || exit 1
NS=$TESTBED_SCANNER_NS
ip -n "$NS" link add v0 type veth peer name v1 || exit 1
ip -n "$NS" link set v0 up
ip -n "$NS" link set v1 up
ip -n "$NS" addr add 10.88.0.1/16 dev v0
# More interfaces, more multicast rows appended after the neighbours.
for i in 0 1 2 3; do
  ip -n "$NS" link add "m$i" type veth peer name "n$i" || exit 1
  ip -n "$NS" addr add "10.89.$i.1/24" dev "m$i"
  ip -n "$NS" addr add "10.90.$i.1/24" dev "n$i"
  ip -n "$NS" link set "m$i" up
  ip -n "$NS" link set "n$i" up
done
# The table grows two rows at a time, as a sweep's does one address at a
# time: reads meet every size on the way, the one just under the 64 rows
# Wine's first request holds among them.
awk -v rows="$ROWS" -v logs="$LOGS" 'BEGIN {
  for (i = 1; i <= rows; i++) {
    printf "neigh replace 10.88.%d.%d lladdr 02:00:00:00:%02x:%02x dev v0 nud permanent\n", int(i / 250), i % 250 + 2, int(i / 250), i % 250 >(logs "/add." int((i + 1) / 2) ".batch")
    printf "neigh del 10.88.%d.%d dev v0\n", int(i / 250), i % 250 + 2 >(logs "/del.batch")
  }
}'

export WINEDEBUG=${CHURN_WINEDEBUG:-fixme-all}
testbed_wine_prepare "$TEMPLATE" || exit 1
say "Wine's services up in $NS: $(testbed_wine_processes | awk '{ print $2 }' | sort | uniq -c |
  awk '{ printf "%s%s x%d", sep, $2, $1; sep = ", " }')"

(
  while :; do
    for ((step = 1; step <= (ROWS + 1) / 2; step++)); do
      ip -n "$NS" -batch "$LOGS/add.$step.batch" 2>/dev/null
      sleep 0.02
    done
    ip -n "$NS" -batch "$LOGS/del.batch" 2>/dev/null
    sleep 0.1
  done
) &
CHURN_PID=$!
say "the table grows two rows at a time to $ROWS rows and empties again; reading it for $SECONDS_TO_RUN s"
read_table() {
  timeout $((SECONDS_TO_RUN + 120)) ip netns exec "$NS" "$TESTBED_WINE" "$READER" "$SECONDS_TO_RUN" 2 \
    >"$LOGS/reader.out" 2>&1 </dev/null
}
testbed_wine_launch "the reader" "$LOGS/reader.out" "$LOGS/reader.out" '^reads=' read_table
status=$?
kill "$CHURN_PID" 2>/dev/null
wait "$CHURN_PID" 2>/dev/null
CHURN_PID=""

grep -a '^reads=' "$LOGS/reader.out" | sed 's/^/[churn] /'
[ "$status" -eq 0 ] || say "the reader did not end by itself (status $status): a read never returned"
crashes=$(testbed_wine_crashes "$TESTBED_LAUNCH_MARK" neighbour_table_reads.exe "$LOGS/reader.out")
heap_errors=$(cat "$TESTBED_DIR/wine.log" "$LOGS/reader.out" | grep -ac 'err:heap')
[ "$heap_errors" -eq 0 ] || say "Wine's heap checks reported $heap_errors errors, the first: $(grep -ah -m 1 'err:heap' "$TESTBED_DIR/wine.log" "$LOGS/reader.out")"
if [ -z "$crashes" ]; then
  say "no crash in $SECONDS_TO_RUN s (logs: $LOGS)"
  [ "$heap_errors" -eq 0 ]
  exit
fi
sed 's/^/[churn] crash: /' <<<"$crashes"
# winedbg --auto names the crashed process and the call it was in.
grep -ah -A 12 '^Unhandled exception' "$TESTBED_DIR/wine.log" "$LOGS/reader.out" | grep -a 'Unhandled exception\|^=>\|^  [0-9] ' |
  head -n 12 | sed 's/^/[churn]   /'
say "logs: $LOGS"
exit 1
