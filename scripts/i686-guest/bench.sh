#!/bin/bash
# The 32-bit benchmarks, inside the emulated machine (QV_JOB=bench): the
# list classes, then the scan runs of bench/run_scan_benchmarks.sh that fit
# here: the real program at 1,024 workers on silent addresses (also with a
# stop and an immediate new scan) and the scan engine alone.
set -u
cd "$QV_ROOT" || exit 1
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

status=0
echo "[bench] listview_bench (32-bit)"
(
  export WINEPREFIX=$QV_BUILD/wineprefix
  qv_wine_start
  qv_wine "$QV_BUILD/bench/listview_bench.exe" >/tmp/listview_bench.out 2>/tmp/listview_bench.err </dev/null
) || status=1
cat /tmp/listview_bench.out
QV_BENCH_BUILD=$QV_BUILD bash bench/run_scan_benchmarks.sh memory || status=1
exit $status
