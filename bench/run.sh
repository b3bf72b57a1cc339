#!/usr/bin/env bash
# Times vrex against baselines measured in the same run and prints ratios and
# peak memory. Not part of the tests: no timing ever decides a test.
#
#   bench/run.sh [--vrex BIN] [--against OTHER_BIN] [--rounds N] [--core-only] [BUILD_DIR]
#
#   BUILD_DIR    where vrex is built (default: build-bench, configured Release)
#   --vrex       time this vrex binary instead of BUILD_DIR/vrex
#   --against    time OTHER_BIN too (an older build, say), on the same inputs,
#                the two in turns (OTHER_BIN first in each round); prints each
#                round's table, then the median of each case's ratio for both
#                side by side
#   --rounds     rounds of all cases (default 1; 5 with --against)
#   --core-only  skip the other bench/*_bench.sh scripts
#
# Inputs, made here and removed at the end (about 4.5 GiB in $TMPDIR):
#   huge   PACK of one member of 1 GiB, and a tar of the same file
#   big    1 GiB PACK of 1024 members of 1 MiB, and a tar of the same files
#   small  PACK of 20,000 members of 4 KiB in 50 folders, and its tar
#   many   PACK of 100,000 members of 16 bytes, and its tar
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
vrex="" other="" rounds="" extras=1
while [ $# -gt 0 ]; do
  case $1 in
    --vrex) vrex=$(realpath "$2"); shift 2 ;;
    --against) other=$(realpath "$2"); shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --core-only) extras=0; shift ;;
    *) break ;;
  esac
done
build=${1:-$top/build-bench}
if [ -z "$vrex" ] && [ ! -x "$build/vrex" ]; then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVREX_TESTS=OFF > /dev/null
  cmake --build "$build" -j"$(nproc)" --target vrex > /dev/null
fi
vrex=${vrex:-$build/vrex}
if [ -z "$rounds" ]; then rounds=1; [ -z "$other" ] || rounds=5; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

make_set() {  # name count size folders
  mkdir -p "$work/$1.src"
  python3 "$top/bench/make_members.py" "$work/$1.src" "$2" "$3" "$4"
  python3 "$top/bench/make_pack.py" "$work/$1.src" "$work/$1.pak"
  (cd "$work/$1.src" && tar -cf "$work/$1.tar" .)
  rm -rf "$work/$1.src"
}

# time_cmd DIR CMD...: prints "seconds peakKiB" of the best of 3 runs (wall
# clock in milliseconds from date, peak RSS from /usr/bin/time, whose own
# clock has 10 ms steps); DIR is emptied before each run, and the removal
# written out, so that its disk work does not land in the run being timed.
time_cmd() {
  local dir=$1; shift
  local best="" rss=""
  for _ in 1 2 3; do
    rm -rf "$dir" && mkdir -p "$dir" && sync
    local out start end
    start=$(date +%s%N)
    out=$(cd "$dir" && /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1)
    end=$(date +%s%N)
    local s m=$out
    s=$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}")
    if [ -z "$best" ] || awk "BEGIN{exit !($s < $best)}"; then best=$s; rss=$m; fi
  done
  echo "$best $rss"
}

# row CASE VREX_RESULT BASELINE_RESULT BASELINE_NAME: prints one line and
# appends the ratio to ratios[$tag|CASE] (tag: the binary timed).
declare -A ratios
cases=()
tag=new
row() {
  local vs=${2% *} vm=${2#* } bs=${3% *} bm=${3#* }
  local ratio
  ratio=$(awk "BEGIN{ if ($bs > 0) printf \"%.3f\", $vs / $bs; else print \"-\" }")
  printf "%-34s %8s %8s %6s %9s %9s  %s\n" "$1" "$vs" "$bs" "$ratio" "$vm" "$bm" "$4"
  ratios[$tag|$1]="${ratios[$tag|$1]:-} $ratio"
  case " ${cases[*]:-} " in *" $1 "*) ;; *) cases+=("$1") ;; esac
}

echo "making inputs in $work ..."
make_set huge 1 1073741824 0
make_set big 1024 1048576 0
make_set small 20000 4096 50
make_set many 100000 16 0
cat "$work"/*.pak "$work"/*.tar > /dev/null  # warm the page cache

# all_cases VREX: every case once, timing VREX.
all_cases() {
  printf "%-34s %8s %8s %6s %9s %9s  %s\n" case vrex_s base_s ratio vrex_KiB base_KiB baseline
  row "x 1 x 1 GiB" "$(time_cmd "$work/out" "$1" x "$work/huge.pak")" \
      "$(time_cmd "$work/out" tar -xf "$work/huge.tar")" "tar -xf"
  row "t 1 x 1 GiB" "$(time_cmd "$work/out" "$1" t "$work/huge.pak")" \
      "$(time_cmd "$work/out" sh -c "cat '$work/huge.pak' > /dev/null")" "cat > /dev/null"
  row "x 1024 x 1 MiB" "$(time_cmd "$work/out" "$1" x "$work/big.pak")" \
      "$(time_cmd "$work/out" tar -xf "$work/big.tar")" "tar -xf"
  row "t 1024 x 1 MiB" "$(time_cmd "$work/out" "$1" t "$work/big.pak")" \
      "$(time_cmd "$work/out" sh -c "cat '$work/big.pak' > /dev/null")" "cat > /dev/null"
  row "l 1024 x 1 MiB" "$(time_cmd "$work/out" "$1" l "$work/big.pak")" \
      "$(time_cmd "$work/out" tar -tf "$work/big.tar")" "tar -tf"
  row "x 20000 x 4 KiB in 50 folders" "$(time_cmd "$work/out" "$1" x "$work/small.pak")" \
      "$(time_cmd "$work/out" tar -xf "$work/small.tar")" "tar -xf"
  row "l 20000 x 4 KiB" "$(time_cmd "$work/out" "$1" l "$work/small.pak")" \
      "$(time_cmd "$work/out" tar -tf "$work/small.tar")" "tar -tf"
  row "l 100000 entries" "$(time_cmd "$work/out" "$1" l "$work/many.pak")" \
      "$(time_cmd "$work/out" tar -tf "$work/many.tar")" "tar -tf"
  row "x 100000 entries" "$(time_cmd "$work/out" "$1" x "$work/many.pak")" \
      "$(time_cmd "$work/out" tar -xf "$work/many.tar")" "tar -xf"
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END{print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

for round in $(seq "$rounds"); do
  if [ -n "$other" ]; then
    echo "round $round: $other"
    tag=old all_cases "$other"
    echo "round $round: $vrex"
  fi
  tag=new all_cases "$vrex"
done
if [ -n "$other" ]; then
  echo
  echo "medians of the ratios over $rounds rounds (other: $other; this: $vrex)"
  printf "%-34s %8s %8s %8s\n" case other this this/other
  for c in "${cases[@]}"; do
    o=$(echo "${ratios[old|$c]}" | median) n=$(echo "${ratios[new|$c]}" | median)
    printf "%-34s %8s %8s %8s\n" "$c" "$o" "$n" "$(awk "BEGIN{ if ($o > 0) printf \"%.3f\", $n / $o; else print \"-\" }")"
  done
fi
rm -rf "$work/out"
echo "peak RSS target for huge: 16384 KiB, whatever the member's size"
echo "peak RSS target for big: 1 MiB member + 64 KiB directory + 4 MiB = 5184 KiB"

# Further benchmarks of the other formats and of deletion, when present.
[ "$extras" = 1 ] || exit 0
for extra in "$top"/bench/*_bench.sh; do
  [ -x "$extra" ] || continue
  echo
  echo "== $(basename "$extra")"
  "$extra" "$build"
done
