#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the native build (gcc): unit, end-to-end, crash and real-data tests;
#   2. the clang build with AddressSanitizer + UndefinedBehaviorSanitizer:
#      the same tests again, plus a short run of every libFuzzer target;
#   3. the 32-bit Windows binaries, cross-built and run under Wine.
# Set VREX_SKIP_WINDOWS=1 to leave out step 3.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$top/scripts/install-deps.sh" test

echo "== native build and tests"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVREX_TESTS=ON > /dev/null
cmake --build "$top/build" -j"$jobs"
(cd "$top/build" && ctest --output-on-failure -j"$jobs" --timeout 600)

echo "== sanitizer build, tests and fuzz targets"
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-san" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVREX_SANITIZE=ON -DVREX_FUZZ=ON -DVREX_TESTS=ON > /dev/null
cmake --build "$top/build-san" -j"$jobs"
(cd "$top/build-san" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs" --timeout 600)

if [ "${VREX_SKIP_WINDOWS:-0}" != 1 ] && [ -x "$top/scripts/test-windows.sh" ]; then
  echo "== Windows binaries under Wine"
  "$top/scripts/test-windows.sh"
fi
echo "== all tests passed"
