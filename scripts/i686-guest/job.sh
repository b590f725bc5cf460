#!/bin/bash
# One run inside the emulated machine, started by its init. The host leaves
# in the shared folder /mnt/host: job.env (what to run), stage.tar (the
# 32-bit build tree and the scripts, at the paths they have on the host, so
# that CTest's files hold good here) and collects the output there.
#   QV_JOB=tests   CTest over the build tree (with the array QV_CTEST_ARGS)
#   QV_JOB=bench   the 32-bit benchmarks
# Their output goes to job.log in the shared folder, which the host shows as
# it grows.
set -u
share=/mnt/host
set -a
# shellcheck source=/dev/null
source "$share/job.env"
set +a
# The image's copy of the library, the same as the staged one (it is part of
# the machine's key), and there before the build tree is unpacked.
# shellcheck source=scripts/lib.sh
source /usr/local/lib/quorvane/lib.sh
QV_SAY_TAG=guest

start=$SECONDS
# Unpacked onto the machine's own disk: a large program run straight from the
# shared folder crashes at its first instruction.
tar -C / -xf "$share/stage.tar" || { say "could not unpack the staged build"; exit 1; }
say "build tree unpacked in $((SECONDS - start)) s"
# Linked, not copied: the prefix is hundreds of MB, and Wine replaces the
# files it changes (the registry) instead of writing into them. The links
# stay on the machine's disk, beside the kept prefix; the build tree only
# points at them, since it may lie on another file system (under /tmp, a
# tmpfs here, when the work tree is under /tmp on the host).
start=$SECONDS
prefixes=/var/lib/quorvane/run
rm -rf "$prefixes"
mkdir -p "$prefixes"
for p in wineprefix lan-wineprefix bench-wineprefix; do
  rm -rf "${QV_BUILD:?}/$p"
  cp -al /var/lib/quorvane/wineprefix-win32 "$prefixes/$p" && ln -s "$prefixes/$p" "$QV_BUILD/$p" ||
    { say "could not link the Wine prefix"; exit 1; }
done
say "Wine prefixes ready in $((SECONDS - start)) s"

cd "$QV_ROOT" || exit 1
export QV_WINEARCH=win32 QV_XVFB_WAIT=180
qv_display_start || exit 1

# Every Wine start costs seconds here: the test prefix's server is started
# once and every program of the build gets unmanaged windows at once,
# instead of per test.
prepare_test_prefix() {
  export WINEPREFIX=$QV_BUILD/wineprefix
  qv_wine_start
  # shellcheck disable=SC2046 # one file name a word
  qv_wine_unmanaged_windows qv_wine $(find "$QV_BUILD" -name '*.exe' -printf '%f\n' | sort -u) ||
    say "the programs' windows could not be made unmanaged (log: $WINEPREFIX.log)"
  export QV_WINE_READY=1
}

# The tests' waits stretch by how much slower than the host this machine
# runs now, measured the same way on both, with room to spare: a fixed
# factor fits a quiet host and fails a busy one.
measure_time_factor() {
  local here factor
  here=$(bash "$QV_ROOT/scripts/i686-guest/calibrate.sh")
  factor=$(((2 * here + QV_HOST_CALIBRATION_MS - 1) / QV_HOST_CALIBRATION_MS))
  ((factor >= 1)) || factor=1
  ((factor <= 100)) || factor=100
  say "calibration: $here ms here, $QV_HOST_CALIBRATION_MS ms on the host; the tests' limits stretch at least $factor times"
  export QV_MACHINE_TIME_FACTOR=$factor
}

case $QV_JOB in
  tests)
    start=$SECONDS
    prepare_test_prefix
    say "Wine started and test programs unmanaged in $((SECONDS - start)) s"
    [ -z "${QV_HOST_CALIBRATION_MS:-}" ] || measure_time_factor
    # Each case's time, kept for the host: the evidence that every limit
    # leaves room.
    results=/var/lib/quorvane/gtest
    rm -rf "$results"
    mkdir -p "$results"
    export GTEST_OUTPUT='xml:Z:\var\lib\quorvane\gtest\'
    ctest --test-dir "$QV_BUILD" --output-on-failure "${QV_CTEST_ARGS[@]}" >"$share/job.log" 2>&1 </dev/null
    status=$?
    cp -r "$results" "$share/gtest"
    ;;
  bench)
    bash "$QV_ROOT/scripts/i686-guest/bench.sh" >"$share/job.log" 2>&1 </dev/null
    status=$?
    ;;
  *)
    say "unknown job '$QV_JOB'"
    status=2
    ;;
esac
qv_display_stop
exit $status
