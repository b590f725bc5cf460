#!/usr/bin/env bash
# Builds everything and runs every test: the portable code natively with
# sanitizers, then the Windows program's tests under Wine on a virtual
# display, as the 64-bit build here and as the shipped 32-bit build in an
# emulated machine (scripts/test-i686.sh). Ends with CTest's summary line;
# exits non-zero on any failure.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/lib.sh
QV_SAY_TAG="test"

qv_require_machine || exit 1

failed=0
qv_build host || exit 1
qv_build win64 || exit 1
# The program proper: 32-bit. This machine's kernel runs no 32-bit code, so
# its tests run last, in an emulated machine that does.
qv_build win32 || exit 1

qv_on_exit 'qv_wine_stop; qv_display_stop'

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
