#!/usr/bin/env bash
# Deletion benchmark: in-place compaction against copying the file, and the
# cost of the recovery record against a run without it, measured in the same
# run. Not part of the tests.
#
#   bench/delete_bench.sh [BUILD_DIR]     (default: build-compact)
#
# Needs vrex and the test harness vrex_faults (tests/crash), whose
# --unprotected switch deletes without the recovery record. Makes a 1 GiB
# PACK of 1024 x 1 MiB and a PACK of 100,000 x 16 bytes in a temporary folder
# (about 3 GiB while it runs) and removes them at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-compact}
if [ ! -x "$build/vrex_faults" ]; then
  build=$top/build-compact
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" > /dev/null
  cmake --build "$build" -j2 --target vrex vrex_faults > /dev/null
fi
vrex=$build/vrex
faults=$build/vrex_faults
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-delete-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
runs=${DELETE_BENCH_RUNS:-3}

# timed ORIGINAL CMD...: copies ORIGINAL to $work/t.pak (not timed), runs CMD
# in $work; prints "seconds peakKiB" of the fastest of $runs runs (wall
# clock in milliseconds, peak RSS from /usr/bin/time).
timed() {
  local original=$1; shift
  local best="" rss=""
  for _ in $(seq "$runs"); do
    rm -f "$work/t.pak" "$work/t.pak.vrex-recovery" "$work/copy.pak"
    cp "$original" "$work/t.pak"
    sync "$work/t.pak"
    local out start end
    start=$(date +%s%N)
    out=$(cd "$work" && /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1)
    end=$(date +%s%N)
    local s m=$out
    s=$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}")
    if [ -z "$best" ] || awk "BEGIN{exit !($s < $best)}"; then best=$s; rss=$m; fi
  done
  echo "$best $rss"
}

row() {  # case result baselineResult baselineName
  local vs=${2% *} vm=${2#* } bs=${3% *} bm=${3#* }
  local ratio
  ratio=$(awk "BEGIN{ if ($bs > 0) printf \"%.3f\", $vs / $bs; else print \"-\" }")
  printf "%-36s %8s %8s %7s %9s %9s  %s\n" "$1" "$vs" "$bs" "$ratio" "$vm" "$bm" "$4"
}

echo "making inputs in $work ..."
python3 "$top/bench/delete_make_pack.py" "$work/big.pak" 1024 1048576
python3 "$top/bench/delete_make_pack.py" "$work/many.pak" 100000 16 halves
cat "$work/big.pak" "$work/many.pak" > /dev/null

printf "%-36s %8s %8s %7s %9s %9s  %s\n" case vrex_s base_s ratio vrex_KiB base_KiB baseline
first=$(timed "$work/big.pak" "$vrex" d t.pak m0000000)
first_bare=$(timed "$work/big.pak" "$faults" --unprotected d t.pak m0000000)
copy=$(timed "$work/big.pak" cp t.pak copy.pak)
copy_sync=$(timed "$work/big.pak" sh -c "cp t.pak copy.pak && sync copy.pak")
row "d first of 1024 x 1 MiB" "$first" "$copy" "cp"
row "d first of 1024 x 1 MiB" "$first" "$copy_sync" "cp + sync of the copy"
row "d first, record vs none" "$first" "$first_bare" "d without recovery record"
row "d last of 1024 x 1 MiB" "$(timed "$work/big.pak" "$vrex" d t.pak m0001023)" \
    "$(timed "$work/big.pak" "$faults" --unprotected d t.pak m0001023)" "d without recovery record"
row "d 50,000 of 100,000 x 16 B" "$(timed "$work/many.pak" "$vrex" d t.pak 'a/*')" \
    "$(timed "$work/many.pak" "$faults" --unprotected d t.pak 'a/*')" "d without recovery record"
row "l 100,000 x 16 B (for scale)" "$(timed "$work/many.pak" "$vrex" l t.pak)" "0 0" "-"
echo "peak RSS target for 1 MiB members: 1024 KiB + 64 KiB directory + 4096 KiB = 5184 KiB"
