#!/usr/bin/env bash
# Times vrex against baselines measured in the same run and prints ratios and
# peak memory. Not part of the tests: no timing ever decides a test.
#
#   bench/run.sh [BUILD_DIR]      (default: build-bench, configured Release)
#
# Inputs, made here and removed at the end (about 2.5 GiB in $TMPDIR):
#   big    1 GiB PACK of 1024 members of 1 MiB, and a tar of the same files
#   small  PACK of 20,000 members of 4 KiB in 50 folders, and its tar
#   many   PACK of 100,000 members of 16 bytes, and its tar
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-bench}
if [ ! -x "$build/vrex" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVREX_TESTS=OFF > /dev/null
  cmake --build "$build" -j"$(nproc)" --target vrex > /dev/null
fi
vrex=$build/vrex
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

make_set() {  # name count size folders
  mkdir -p "$work/$1.src"
  python3 "$top/bench/make_members.py" "$work/$1.src" "$2" "$3" "$4"
  python3 "$top/bench/make_pack.py" "$work/$1.src" "$work/$1.pak"
  (cd "$work/$1.src" && tar -cf "$work/$1.tar" .)
  rm -rf "$work/$1.src"
}

# time_cmd DIR CMD...: prints "seconds peakKiB" of the best of 3 runs; DIR is
# emptied before each run.
time_cmd() {
  local dir=$1; shift
  local best="" rss=""
  for _ in 1 2 3; do
    rm -rf "$dir" && mkdir -p "$dir"
    local out
    out=$(cd "$dir" && /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1)
    local s=${out% *} m=${out#* }
    if [ -z "$best" ] || awk "BEGIN{exit !($s < $best)}"; then best=$s; rss=$m; fi
  done
  echo "$best $rss"
}

row() {  # case vrexResult baselineResult baselineName
  local vs=${2% *} vm=${2#* } bs=${3% *} bm=${3#* }
  local ratio
  ratio=$(awk "BEGIN{ if ($bs > 0) printf \"%.2f\", $vs / $bs; else print \"-\" }")
  printf "%-34s %8s %8s %6s %9s %9s  %s\n" "$1" "$vs" "$bs" "$ratio" "$vm" "$bm" "$4"
}

echo "making inputs in $work ..."
make_set big 1024 1048576 0
make_set small 20000 4096 50
make_set many 100000 16 0
cat "$work"/*.pak "$work"/*.tar > /dev/null  # warm the page cache

printf "%-34s %8s %8s %6s %9s %9s  %s\n" case vrex_s base_s ratio vrex_KiB base_KiB baseline
row "x 1024 x 1 MiB" "$(time_cmd "$work/out" "$vrex" x "$work/big.pak")" \
    "$(time_cmd "$work/out" tar -xf "$work/big.tar")" "tar -xf"
row "t 1024 x 1 MiB" "$(time_cmd "$work/out" "$vrex" t "$work/big.pak")" \
    "$(time_cmd "$work/out" sh -c "cat '$work/big.pak' > /dev/null")" "cat > /dev/null"
row "l 1024 x 1 MiB" "$(time_cmd "$work/out" "$vrex" l "$work/big.pak")" \
    "$(time_cmd "$work/out" tar -tf "$work/big.tar")" "tar -tf"
row "x 20000 x 4 KiB in 50 folders" "$(time_cmd "$work/out" "$vrex" x "$work/small.pak")" \
    "$(time_cmd "$work/out" tar -xf "$work/small.tar")" "tar -xf"
row "l 20000 x 4 KiB" "$(time_cmd "$work/out" "$vrex" l "$work/small.pak")" \
    "$(time_cmd "$work/out" tar -tf "$work/small.tar")" "tar -tf"
row "l 100000 entries" "$(time_cmd "$work/out" "$vrex" l "$work/many.pak")" \
    "$(time_cmd "$work/out" tar -tf "$work/many.tar")" "tar -tf"
row "x 100000 entries" "$(time_cmd "$work/out" "$vrex" x "$work/many.pak")" \
    "$(time_cmd "$work/out" tar -xf "$work/many.tar")" "tar -xf"
rm -rf "$work/out"
echo "peak RSS target for big: 1 MiB member + 64 KiB directory + 4 MiB = 5184 KiB"

# Further benchmarks of the other formats and of deletion, when present.
for extra in "$top"/bench/*_bench.sh; do
  [ -x "$extra" ] || continue
  echo
  echo "== $(basename "$extra")"
  "$extra" "$build"
done
