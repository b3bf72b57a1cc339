#!/usr/bin/env bash
# The Windows suite: cross-builds vrex.exe, VREX.dll and vrex-host.exe (32-bit,
# MinGW-w64, static) and runs them under Wine: PE and export checks, the
# end-to-end tests of the native test binaries against vrex.exe, the host's
# end-to-end tests through vrex-host.exe, Windows-only checks and the zip.
#
#   scripts/test-windows.sh
#
# Presets of CMakePresets.json: native (build/, whose test binaries the suite
# reuses; configured and built here too, which costs nothing when
# scripts/test.sh has just built it) and win32 (the cross build, build-win/).
# Installs what is missing first (as root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
start=$(date +%s)

"$top/scripts/install-deps.sh" test
"$top/scripts/install-deps.sh" windows

echo "== native test binaries (preset native)"
cmake --preset native > /dev/null
cmake --build --preset native -j"$jobs"

echo "== cross build (preset win32)"
cmake --preset win32 > /dev/null
cmake --build --preset win32 -j"$jobs"
win=$top/build-win  # the win32 preset's binary folder

# One wineserver for the whole run (else every program start costs seconds,
# and Wine's services hold pipes open), in the prefix the suite's tests use.
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$win/wine-prefix"
stop_wine() { sh "$top/tests/wine/wine-env.sh" stop; }
trap stop_wine EXIT
echo "== Wine"
# A wine without its 32-bit part runs nothing and still exits 0: trust no
# result before a trivial program has printed its line.
sh "$top/tests/wine/wine-env.sh" start "$win/tests/wine/sentinel.exe"

echo "== Windows suite"
ctest --preset win32 -j"$jobs"
echo "== Windows suite passed in $(( $(date +%s) - start )) s"
