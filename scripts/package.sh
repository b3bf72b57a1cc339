#!/usr/bin/env bash
# Makes the two packages into dist/ (or the folder given):
#   vrex_<version>_<arch>.deb   vrex, vrex-host, the VREX module and the man page
#   vrex-<version>-win32.zip    vrex.exe, VREX.dll, vrex-host.exe and README.txt
# Installs what is missing first (as root). Build folders: build-inst (native)
# and build-win (32-bit Windows, cross-built with MinGW), both Release.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dist=$(mkdir -p "${1:-$top/dist}" && cd "${1:-$top/dist}" && pwd)
native=$top/build-inst
win=$top/build-win
jobs=$(nproc)

"$top/scripts/install-deps.sh" build
"$top/scripts/install-deps.sh" windows

products=(vrex vrex-host VREX)

echo "== Debian package"
cmake -S "$top" -B "$native" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$native" -j"$jobs" --target "${products[@]}" vrex_manpage
(cd "$native" && cpack -G DEB -B "$native/packages" > /dev/null)
cp "$native"/packages/vrex_*.deb "$dist/"

echo "== Windows zip"
cmake -S "$top" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$win" -j"$jobs" --target "${products[@]}"
(cd "$win" && cpack -G ZIP -B "$win/packages" > /dev/null)
cp "$win"/packages/vrex-*-win32.zip "$dist/"

echo "== packages in $dist"
ls -l "$dist"
