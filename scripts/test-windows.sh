#!/usr/bin/env bash
# The Windows suite: cross-builds vrex.exe, VREX.dll and vrex-host.exe (32-bit,
# MinGW-w64, static) and runs them under Wine: PE and export checks, the
# end-to-end tests of the native test binaries against vrex.exe, the host's
# end-to-end tests through vrex-host.exe, Windows-only checks and the zip.
#
#   scripts/test-windows.sh [NATIVE_BUILD]
#
# NATIVE_BUILD is the native build folder whose test binaries the suite
# reuses (default: build, the folder of scripts/test.sh); it is configured
# and built when needed. The cross build goes to build-win (VREX_WIN_BUILD).
# Installs what is missing first (as root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native=$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)
win=${VREX_WIN_BUILD:-$top/build-win}
jobs=$(nproc)
start=$(date +%s)

"$top/scripts/install-deps.sh" test
"$top/scripts/install-deps.sh" windows

echo "== native test binaries in $native"
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVREX_TESTS=ON > /dev/null
fi
cmake --build "$native" -j"$jobs"

echo "== cross build in $win"
cmake -S "$top" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVREX_TESTS=ON -DVREX_NATIVE_BUILD="$native" > /dev/null
cmake --build "$win" -j"$jobs"

# One wineserver for the whole run (else every program start costs seconds,
# and Wine's services hold pipes open), in a prefix of the build folder.
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$win/wine-prefix"
stop_wine() { sh "$top/tests/wine/wine-env.sh" stop; }
trap stop_wine EXIT
echo "== Wine"
# A wine without its 32-bit part runs nothing and still exits 0: trust no
# result before a trivial program has printed its line.
sh "$top/tests/wine/wine-env.sh" start "$win/tests/wine/sentinel.exe"

echo "== Windows suite"
(cd "$win" && ctest -L wine --output-on-failure -j"$jobs" --timeout 300)
echo "== Windows suite passed in $(( $(date +%s) - start )) s"
