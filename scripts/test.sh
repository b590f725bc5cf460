#!/usr/bin/env bash
# Builds everything and runs every test: the portable code natively with
# sanitizers, then the Windows program's tests under Wine on a virtual
# display, as the 64-bit build here and as the shipped 32-bit build in an
# emulated machine (scripts/test-i686.sh). Ends with CTest's summary line;
# exits non-zero on any failure.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/wine-env.sh

say() { printf '[test] %s\n' "$*"; }

machine_ready() {
  command -v i686-w64-mingw32-g++-posix >/dev/null &&
    command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
    command -v cmake >/dev/null && command -v ninja >/dev/null &&
    command -v Xvfb >/dev/null && command -v xwd >/dev/null &&
    { [ -x /usr/lib/wine/wine64 ] || command -v wine >/dev/null; } &&
    [ -f /usr/src/googletest/CMakeLists.txt ] &&
    command -v ip >/dev/null && command -v clang++ >/dev/null &&
    for wanted in zh_CN en_US zh_TW; do locale -a 2>/dev/null | grep -qi "^$wanted\.utf-\?8\$" || return 1; done
}

if ! machine_ready; then
  say "this machine lacks build or test tools: running scripts/setup.sh"
  scripts/setup.sh || { say "setup failed"; exit 1; }
fi

# The full build log goes to a file; the terminal gets every 25th step, so a
# long build is never a silent minute.
build() {
  local preset=$1 log="build-$1.log"
  say "configuring and building '$preset' (log: $log)"
  cmake --preset "$preset" >"$log" 2>&1 || { tail -n 40 "$log"; say "configuring '$preset' failed"; return 1; }
  set -o pipefail
  if ! cmake --build --preset "$preset" 2>&1 | tee -a "$log" |
      awk '/^\[[0-9]+\/[0-9]+\]/ { if (++n % 25 == 1) { print "[test]   " substr($0, 1, 110); fflush() } }'; then
    grep -E 'error|FAILED' "$log" | head -n 20
    say "build '$preset' failed (full log: $log)"
    return 1
  fi
}

failed=0
build host || exit 1
build win64 || exit 1
# The program proper: 32-bit. This machine's kernel runs no 32-bit code, so
# its tests run last, in an emulated machine that does.
build win32 || exit 1

cleanup() {
  qv_wine_stop
  qv_display_stop
}
trap cleanup EXIT

say "running the portable tests (host build, sanitizers on)"
ctest --preset host -j 2 || failed=1

# CI also gives every fuzz target a short run from its committed corpus.
if [ "${CI:-}" = true ] || [ -n "${QV_FUZZ_SECONDS:-}" ]; then
  say "fuzzing each target for ${QV_FUZZ_SECONDS:-20}s"
  scripts/fuzz.sh "${QV_FUZZ_SECONDS:-20}" || failed=1
fi

qv_display_start || exit 1
qv_wine_exports
say "starting Wine (prefix $WINEPREFIX)"
qv_wine_start
say "running the Windows tests under Wine"
ctest --preset win64 || failed=1
# The window must read right whatever Windows' "language for non-Unicode
# programs" is: the tests of what it shows and writes run again where the
# ANSI code page is 1252 and 950 (Wine takes it from each process's locale).
for locale_page in en_US.UTF-8:1252 zh_TW.UTF-8:950; do
  say "running the text tests again under ${locale_page%:*} (ANSI code page ${locale_page#*:})"
  QV_WINE_LOCALE=${locale_page%:*} QV_EXPECTED_ANSI_CODE_PAGE=${locale_page#*:} \
    ctest --preset win64 -L texts || failed=1
done
qv_wine_stop
qv_display_stop

if reason=$(scripts/test-i686.sh --check); then
  say "running the 32-bit tests in an emulated machine (scripts/test-i686.sh${QV_I686_TESTS:+, only $QV_I686_TESTS})"
  scripts/test-i686.sh || failed=1
else
  say "skipping the 32-bit tests: $reason"
fi

# Rare faults of real scans show only over many sweeps: a short soak.
say "running the short soak: 10 sweeps of a dense virtual LAN (bench/run_soak.sh)"
SOAK_PROGRAMS_PER_WINE=1 bench/run_soak.sh 10
case $? in
  0) ;;
  77) say "short soak skipped: the reason is above" ;;
  *) failed=1 ;;
esac

exit $failed
