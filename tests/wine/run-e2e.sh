#!/bin/sh
# Runs the end-to-end tests of one native test binary against the Windows
# binary: run-e2e.sh TEST_BINARY TEST_SOURCE [select_e2e.py options]. VREX_E2E_EXE and
# VREX_E2E_LAUNCHER (set by ctest) make Vrex() start vrex.exe through Wine.
# Exits 77 (skipped) when the source has no test that runs the binary.
set -u
here=$(dirname "$0")
binary=$1
source=$2
shift 2
filter=$(python3 "$here/select_e2e.py" "$@" "$source") || exit 1
if [ -z "$filter" ]; then
  echo "no end-to-end tests in $source"
  exit 77
fi
if [ ! -x "$binary" ]; then
  echo "missing test binary $binary: build the native tests first"
  exit 1
fi
exec "$binary" --gtest_filter="$filter"
