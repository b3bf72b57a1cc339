#!/usr/bin/env bash
# Makes the two packages into dist/ (or the folder given):
#   vrex_<version>_<arch>.deb   vrex, vrex-host, the VREX module, the man page,
#                               README.md and the licence
#   vrex-<version>-win32.zip    vrex.exe, VREX.dll, vrex-host.exe, README.txt
#                               and LICENSE.txt
# Installs what is missing first (as root). Build folders: build-inst (native,
# Release) and the win32 preset's build-win (32-bit Windows, cross-built with
# MinGW, Release).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dist=$(mkdir -p "${1:-$top/dist}" && cd "${1:-$top/dist}" && pwd)
cd "$top"
native=$top/build-inst
win=$top/build-win  # the win32 preset's binary folder
jobs=$(nproc)

"$top/scripts/install-deps.sh" build
"$top/scripts/install-deps.sh" windows

products=(vrex vrex-host VREX)

echo "== Debian package"
# Without tests: they need GoogleTest, which the "build" packages leave out.
cmake -S "$top" -B "$native" -DCMAKE_BUILD_TYPE=Release -DVREX_TESTS=OFF > /dev/null
cmake --build "$native" -j"$jobs" --target "${products[@]}" vrex_manpage
(cd "$native" && cpack -G DEB -B "$native/packages" > /dev/null)
cp "$native"/packages/vrex_*.deb "$dist/"

echo "== Windows zip"
cmake --preset win32 > /dev/null
cmake --build --preset win32 -j"$jobs" --target "${products[@]}"
(cd "$win" && cpack -G ZIP -B "$win/packages" > /dev/null)
cp "$win"/packages/vrex-*-win32.zip "$dist/"

echo "== packages in $dist"
ls -l "$dist"
