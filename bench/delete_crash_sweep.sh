#!/usr/bin/env bash
# The full crash sweep of deletion: the crash test with random layouts added
# and every recovery killed again at each of its writes and syncs. Takes
# several minutes; ctest runs the bounded set.
#
#   bench/delete_crash_sweep.sh [BUILD_DIR]     (default: build-compact)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-compact}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" > /dev/null
cmake --build "$build" -j2 --target crash_test vrex_faults > /dev/null
VREX_CRASH_FULL=1 "$build/crash_test" --gtest_filter='Crash.*'
