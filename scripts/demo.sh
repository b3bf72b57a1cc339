#!/usr/bin/env bash
# Builds vrex and shows it on the bundled sample archive: a listing, then an
# extraction with folders into a fresh folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" build
cmake -S "$top" -B "$top/build" -DVREX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j"$(nproc)" --target vrex > /dev/null
"$top/build/vrex" l "$top/samples/sample.pak"
out=$(mktemp -d)
(cd "$out" && "$top/build/vrex" x "$top/samples/sample.pak")
echo
echo "Extracted into $out:"
(cd "$out" && find . -type f | sort)
