#!/usr/bin/env bash
# Builds the list-view benchmark (64-bit, optimised) and runs it under Wine
# on a private display; prints its table of times.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG=listview
qv_build win64 listview_bench
qv_on_exit 'qv_wine_stop; qv_display_stop'
qv_display_start
qv_wine_start
# Wine's services inherit stdout: the output goes to a file, not a pipe.
out=$(mktemp)
qv_wine build/win64/bench/listview_bench.exe >"$out" 2>/dev/null </dev/null
cat "$out"
rm -f "$out"
