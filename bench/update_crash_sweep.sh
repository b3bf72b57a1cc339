#!/usr/bin/env bash
# The full crash sweep of a, af, m and mf: the crash test's update cases with
# random archives, files and operations added, and the run after every kill
# inside a compaction killed again at each of its writes and syncs. Takes
# several minutes; ctest runs the bounded set.
#
#   bench/update_crash_sweep.sh [BUILD_DIR]     (default: build-compact)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-compact}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" > /dev/null
cmake --build "$build" -j2 --target crash_test vrex_faults > /dev/null
VREX_CRASH_FULL=1 "$build/crash_test" --gtest_filter='CrashUpdate.*'
