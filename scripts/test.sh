#!/usr/bin/env bash
# Build with the sanitizer preset and run every test; prints how long the
# configure, build and test phases took and the slowest tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/phase_times.sh
trap phase_report_once EXIT
preset=${ZIMO_PRESET:-asan}
jobs=$(nproc)
phase configure cmake --preset "$preset"
phase build cmake --build --preset "$preset" -j "$jobs"
# Many tests spend their time waiting on a card or a peer process, so ctest
# runs four to a core (at most 16 at once).
test_jobs=$((jobs * 4 > 16 ? 16 : jobs * 4))
rc=0
phase tests ctest --preset "$preset" -j "$test_jobs" || rc=$?
slowest_tests "build/$preset" 15
exit $rc
