#!/usr/bin/env bash
# Builds everything and runs every test, through the presets of
# CMakePresets.json:
#   1. native (gcc, build/): unit, end-to-end, crash, real-data and package
#      tests;
#   2. sanitize (clang, build-san/): the same tests under AddressSanitizer +
#      UndefinedBehaviorSanitizer, plus a short run of every libFuzzer target;
#   3. win32 (build-win/): the 32-bit Windows binaries, cross-built and run
#      under Wine (scripts/test-windows.sh).
# Installs what is missing first (as root). Set VREX_SKIP_WINDOWS=1 to leave
# out step 3.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)

"$top/scripts/install-deps.sh" test

echo "== native build and tests (preset native)"
cmake --preset native > /dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

echo "== sanitizer build, tests and fuzz targets (preset sanitize)"
cmake --preset sanitize > /dev/null
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j"$jobs"

if [ "${VREX_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== Windows binaries under Wine (preset win32)"
  "$top/scripts/test-windows.sh"
fi
echo "== all tests passed"
