# Sourced by the benchmark scripts: `top` (the source tree), `build` (the
# folder given as $1, else build-bench) and `vrex`, built there as a Release
# binary when it isn't yet.
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-bench}
if [ ! -x "$build/vrex" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVREX_TESTS=OFF > /dev/null
  cmake --build "$build" -j"$(nproc)" --target vrex > /dev/null
fi
vrex=$build/vrex
