#!/usr/bin/env bash
# LOD extraction: vrex x on 2,000 zlib members (about 256 MiB inflated)
# against a plain zlib inflate of the same streams into the same files, and
# against vrex x of the same members stored. Prints seconds, ratios and peak
# RSS. Not part of the tests.
#
#   bench/lod_bench.sh [BUILD_DIR]      (default: build-bench, configured Release)
set -euo pipefail
. "$(dirname "$0")/release_vrex.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-lod-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

count=2000
size=134218  # 2,000 x 134,218 bytes = 256 MiB
c++ -O2 -o "$work/lod_helper" "$top/bench/lod_helper.cc" -lz
echo "making inputs in $work ..."
made=$("$work/lod_helper" make "$work/packed.lod" "$work/stored.lod" "$count" "$size")
echo "$made"
largest=${made##* }
cat "$work/packed.lod" "$work/stored.lod" > /dev/null  # warm the page cache

# run_once CASE CMD...: one run in an emptied output folder; keeps the best
# wall time, the best user+system time (steadier on a busy machine) and the
# largest peak RSS of CASE, and a checksum of the files it wrote.
declare -A wall cpu rss sum
run_once() {
  local name=$1; shift
  rm -rf "$work/out" && mkdir -p "$work/out"
  local out s u k m c
  out=$(cd "$work/out" && /usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1)
  read -r s u k m <<< "$out"
  c=$(awk "BEGIN{printf \"%.2f\", $u + $k}")
  if [ -z "${wall[$name]:-}" ] || awk "BEGIN{exit !($s < ${wall[$name]})}"; then wall[$name]=$s; fi
  if [ -z "${cpu[$name]:-}" ] || awk "BEGIN{exit !($c < ${cpu[$name]})}"; then cpu[$name]=$c; fi
  if [ "$m" -gt "${rss[$name]:-0}" ]; then rss[$name]=$m; fi
  sum[$name]=$(cd "$work/out" && cat $(ls | sort) | md5sum | cut -d' ' -f1)
}

ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.2f\", $1 / $2; else print \"-\" }"; }

row() {  # case vrexCase baselineCase baselineName
  printf "%-30s %7s %7s %6s %7s %7s %6s %8s %8s  %s\n" "$1" "${wall[$2]}" "${wall[$3]}" \
         "$(ratio "${wall[$2]}" "${wall[$3]}")" "${cpu[$2]}" "${cpu[$3]}" "$(ratio "${cpu[$2]}" "${cpu[$3]}")" \
         "${rss[$2]}" "${rss[$3]}" "$4"
}

# Five rounds, the three cases interleaved so load from elsewhere hits each alike.
for _ in 1 2 3 4 5; do
  run_once packed "$vrex" x "$work/packed.lod"
  run_once inflate "$work/lod_helper" inflate "$work/packed.lod"
  run_once stored "$vrex" x "$work/stored.lod"
done
if [ "${sum[packed]}" != "${sum[inflate]}" ] || [ "${sum[packed]}" != "${sum[stored]}" ]; then
  echo "extracted files differ between the runs" >&2
  exit 1
fi

printf "%-30s %7s %7s %6s %7s %7s %6s %8s %8s  %s\n" case vrex_s base_s ratio vrex_cpu base_cpu ratio \
       vrex_KiB base_KiB baseline
row "x 2000 zlib members, 256 MiB" packed inflate "plain zlib inflate"
row "x 2000 zlib members" packed stored "vrex x, same members stored"
echo "peak RSS target: largest packed ($largest) + largest real ($size) + directory ($((count * 32)))" \
     "+ 4 MiB = $(( (largest + size + count * 32) / 1024 + 4096 )) KiB"
rm -rf "$work/out"
