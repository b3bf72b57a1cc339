# Sourced by the benchmarks that time vrex against a baseline in turns:
# measure, pair, header, row and check. `runs` is how many rounds pair takes.

# measure DIR CMD...: runs CMD in DIR once; prints "seconds peakKiB". A
# command that fails stops the benchmark.
measure() {
  local dir=$1; shift
  local start end out
  start=$(date +%s%N)
  out=$(cd "$dir" && /usr/bin/time -f "%x %M" "$@" 2>&1 >/dev/null | tail -1)
  end=$(date +%s%N)
  local status=${out% *} kib=${out#* }
  if [ "$status" != 0 ]; then
    echo "failed ($status): $*" >&2
    exit 1
  fi
  echo "$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}") $kib"
}

# pair NAME PREP VREX_DIR VREX_CMD BASE_DIR BASE_CMD: $runs rounds of PREP,
# the baseline, PREP, the vrex command, each command a string run by bash;
# keeps the fastest run of each side in best_v / best_b ("seconds KiB").
# The last vrex run's output stays for the checks.
pair() {
  local prep=$2 vdir=$3 vcmd=$4 bdir=$5 bcmd=$6
  best_v="" best_b=""
  for _ in $(seq "$runs"); do
    local r
    bash -c "$prep" && sync
    r=$(measure "$bdir" bash -c "$bcmd")
    if [ -z "$best_b" ] || awk "BEGIN{exit !(${r% *} < ${best_b% *})}"; then best_b=$r; fi
    bash -c "$prep" && sync
    r=$(measure "$vdir" bash -c "$vcmd")
    if [ -z "$best_v" ] || awk "BEGIN{exit !(${r% *} < ${best_v% *})}"; then best_v=$r; fi
  done
}

header() {
  printf "%-38s %8s %8s %7s %7s %9s %9s %9s  %s\n" case vrex_s base_s ratio target vrex_KiB KiB_goal \
         base_KiB baseline
}

# row CASE TARGET_RATIO DIRECTORY_BYTES BASELINE_NAME: prints best_v against
# best_b; the memory goal is the directory + the copy buffer (1 MiB) + 4 MiB.
row() {
  local vs=${best_v% *} vm=${best_v#* } bs=${best_b% *} bm=${best_b#* }
  local ratio goal mark="" shown="-"
  if [ "$2" != - ]; then shown="<= $2"; fi
  ratio=$(awk "BEGIN{ if ($bs > 0) printf \"%.3f\", $vs / $bs; else print \"-\" }")
  goal=$(( ($3 + 1048576 + 4194304 + 1023) / 1024 ))
  if [ "$2" != - ] && awk "BEGIN{exit !($ratio > $2)}"; then mark=" (ratio missed)"; fi
  if [ "$vm" -gt "$goal" ]; then mark="$mark (memory missed)"; fi
  printf "%-38s %8s %8s %7s %7s %9s %9s %9s  %s%s\n" "$1" "$vs" "$bs" "$ratio" "$shown" "$vm" "$goal" "$bm" "$4" "$mark"
}

# check COND MESSAGE: stops the benchmark when a result is wrong.
check() { if ! eval "$1"; then echo "wrong result: $2" >&2; exit 1; fi; }

