#!/usr/bin/env bash
# The full crash sweeps: the crash test with random cases added and the run
# after a kill killed again at each of its writes and syncs. Deletion: random
# layouts, every recovery killed again. Updates (a, af, m, mf): random
# archives, files and operations, the run after every kill inside a
# compaction killed again. Takes several minutes; ctest runs the bounded set.
#
#   bench/crash_sweep.sh [delete|update|all] [BUILD_DIR]   (default: all, build-compact)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-all}" in
  delete) filter='Crash.*' ;;
  update) filter='CrashUpdate.*' ;;
  all) filter='*' ;;
  *) echo "usage: $0 [delete|update|all] [BUILD_DIR]" >&2; exit 2 ;;
esac
build=${2:-$top/build-compact}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" > /dev/null
cmake --build "$build" -j2 --target crash_test vrex_faults > /dev/null
VREX_CRASH_FULL=1 "$build/crash_test" --gtest_filter="$filter"
