#!/bin/bash
# Prints, in milliseconds, the best of three runs of a fixed piece of
# shell arithmetic. Run on the host and in the emulated machine, the two
# figures say how much slower the machine is than the host at that moment,
# busy host included, and so how far the tests' time limits must stretch.
best=""
for _ in 1 2 3; do
  start=$(date +%s%N)
  i=0
  while ((i < 200000)); do ((i++)); done
  took=$((($(date +%s%N) - start) / 1000000))
  if [ -z "$best" ] || ((took < best)); then best=$took; fi
done
echo "$best"
