#!/usr/bin/env bash
# Runs every libFuzzer target for the given number of seconds (default 60),
# starting from the committed corpus in tests/fuzz/corpus/<target>/. New
# inputs go to a scratch folder, so the committed corpus stays small.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG=fuzz
seconds=${1:-60}

qv_build fuzz

status=0
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  scratch=$(mktemp -d)
  say "$name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -artifact_prefix="build/fuzz/$name-" \
      "$scratch" "tests/fuzz/corpus/$name" >"build/fuzz/$name.log" 2>&1; then
    tail -n 30 "build/fuzz/$name.log"
    say "$name FAILED (crash input in build/fuzz/$name-*)"
    status=1
  fi
  rm -rf "$scratch"
done
exit $status
