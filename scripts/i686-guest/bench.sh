#!/bin/bash
# The 32-bit benchmarks, inside the emulated machine (QV_JOB=bench): the
# scan engine alone at 1,024 workers (also with a stop and an immediate new
# scan), the pause between worker starts, the list classes, then the real
# program at 1,024 workers on silent addresses (the memory run of
# bench/run_scan_benchmarks.sh).
set -u
cd "$QV_ROOT" || exit 1
# shellcheck source=scripts/lib.sh
source scripts/lib.sh
QV_SAY_TAG=bench
# The driver's waits stretch as the tests' do: everything is slower here.
export QV_TEST_TIME_FACTOR=4

status=0
export WINEPREFIX=$QV_BUILD/bench-wineprefix
qv_wine_start
if [ "${QV_BENCH_WORKERS:-1}" != 0 ]; then
  for run in "3000 12000" "--restart 12000" "--pause 500"; do
    say "worker_bench $run (32-bit)"
    # shellcheck disable=SC2086
    qv_wine "$QV_BUILD/bench/worker_bench.exe" $run >/tmp/worker_bench.out 2>/tmp/worker_bench.err </dev/null || status=1
    cat /tmp/worker_bench.out
  done
fi
if [ "${QV_BENCH_LISTVIEW:-1}" != 0 ]; then
  say "listview_bench (32-bit)"
  qv_wine "$QV_BUILD/bench/listview_bench.exe" >/tmp/listview_bench.out 2>/tmp/listview_bench.err </dev/null || status=1
  cat /tmp/listview_bench.out
fi
qv_wine_stop
unset WINEPREFIX
QV_BENCH_BUILD=$QV_BUILD bash bench/run_scan_benchmarks.sh memory || status=1
exit $status
