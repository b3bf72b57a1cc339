#!/usr/bin/env bash
# Writing LOD, CSid, STK, HOG, SPAK, RFF, GOB v1 and v2, DMVL and GRP: vrex a
# against a baseline that writes the same data and makes it durable,
# measured in the same run.
# Prints seconds, ratios and peak RSS; not part of the tests.
#
#   bench/formats_bench.sh [BUILD_DIR]      (default: build-bench, configured Release)
#
# Cases (inputs made here under $TMPDIR, about 3 GiB at most while it runs,
# removed at the end):
#   replace one 1 MiB member of a 1 GiB LOD,   vs  cp + sync of the archive
#     CSid, STK, SPAK, RFF and GOB v1
#     (1024 members of 1 MiB)
#   replace one 1 MiB member of a 1 GiB HOG    vs  cp + sync of the archive
#     by a file of the same size
#   add 1,000 text files of 4 KiB into a       vs  gzip -6 of the same bytes
#     new LOD                                       (sizes printed too)
#   replace one member of a 256 MiB DMVL,      vs  cp + sync of the archive, and
#     GRP and GOB v2                               that renamed over it
# Each case runs FORMATS_BENCH_RUNS times (default 3), baseline and vrex in
# turns; the fastest run counts.
set -euo pipefail
. "$(dirname "$0")/release_vrex.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-formats-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
runs=${FORMATS_BENCH_RUNS:-3}
. "$(dirname "$0")/pair.sh"

members() { "$vrex" l "$1" | sed -n 's/^\([0-9]*\) matches found$/\1/p'; }

echo "making inputs in $work ..."
mkdir -p "$work/big" "$work/mid" "$work/replace" "$work/text"
python3 "$top/bench/make_members.py" "$work/big" 1024 1048576 0
python3 "$top/bench/make_members.py" "$work/mid" 256 1048576 0
head -c 1048576 /dev/urandom > "$work/replace/m000512.bin"
python3 - "$work/text" <<'PY'
import random, sys
rng = random.Random(3)
words = ["castle", "dragon", "gold", "hero", "spell", "army", "tower", "gem", "the", "of", "and", "to", "a"]
for i in range(1000):
    text = " ".join(rng.choice(words) for _ in range(900)).encode()[:4096]
    with open("%s/t%04d.txt" % (sys.argv[1], i), "wb") as f:
        f.write(text)
PY
sync

header

# 1. and 2. One 1 MiB member replaced in a 1 GiB archive of each format.
for ext in lod bin stk hog sin rff gob; do
  python3 "$top/bench/make_archive.py" "$work/big" "$work/big.$ext"
  sync
  cat "$work/big.$ext" > /dev/null  # warm the page cache
  pair "replace $ext" "rm -f '$work/replace/copy.$ext' && cp '$work/big.$ext' '$work/replace/t.$ext'" \
       "$work/replace" "exec '$vrex' a t.$ext m000512.bin" \
       "$work/replace" "cp t.$ext copy.$ext && sync copy.$ext"
  check "[ \"\$(members '$work/replace/t.$ext')\" = 1024 ]" "t.$ext does not list 1024 members"
  rm -rf "$work/out" && mkdir -p "$work/out"
  (cd "$work/out" && "$vrex" e "$work/replace/t.$ext" m000512.bin > /dev/null)
  check "cmp -s '$work/out/m000512.bin' '$work/replace/m000512.bin'" "the replaced member of t.$ext reads back other bytes"
  directory=$(case $ext in lod) echo $((10000 * 32)) ;; bin) echo $((1024 * 21)) ;; stk) echo $((1024 * 22)) ;;
               hog) echo $((1024 * 17)) ;; sin) echo $((1024 * 128)) ;; rff) echo $((1024 * 48)) ;;
               gob) echo $((4 + 1024 * 21)) ;; esac)
  row "a: replace 1 MiB of 1 GiB .$ext" 0.05 "$directory" "cp + sync of the archive"
  rm -f "$work/big.$ext" "$work/replace/t.$ext" "$work/replace/copy.$ext"
done
rm -rf "$work/big" "$work/out"

# 3. 1,000 text files into a new LOD, beside gzip -6 of the same bytes.
pair "new lod" "rm -f '$work/new.lod' '$work/text.gz'" \
     "$work" "exec '$vrex' a new.lod text" \
     "$work" "cat text/* | gzip -6 > text.gz && sync text.gz"
check "[ \"\$(members '$work/new.lod')\" = 1000 ]" "new.lod does not list 1000 members"
row "a: 1000 x 4 KiB text into a new LOD" - $((10000 * 32)) "gzip -6 of the same bytes + sync"
packed=$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(); n=struct.unpack('<I',d[8:12])[0]; print(sum(struct.unpack('<I',d[92+32*i+28:92+32*i+32])[0] for i in range(n)))" "$work/new.lod")
echo "    LOD: $(stat -c %s "$work/new.lod") bytes ($packed bytes of zlib streams, the table's room aside);" \
     "gzip -6: $(cat "$work"/text/* | gzip -6 | wc -c) bytes; the text: $(cat "$work"/text/* | wc -c) bytes"

# 4. One member replaced in a 256 MiB DMVL, GRP and GOB v2: the file is written anew.
cp "$work/replace/m000512.bin" "$work/replace/m000128.bin"
for ext in mvl grp goo; do
  python3 "$top/bench/make_archive.py" "$work/mid" "$work/mid.$ext"
  sync
  cat "$work/mid.$ext" > /dev/null
  pair "replace $ext" "rm -f '$work/replace/copy.$ext' && cp '$work/mid.$ext' '$work/replace/t.$ext'" \
       "$work/replace" "exec '$vrex' a t.$ext m000128.bin" \
       "$work/replace" "cp t.$ext copy.$ext && sync copy.$ext"
  check "[ \"\$(members '$work/replace/t.$ext')\" = 256 ]" "t.$ext does not list 256 members"
  entry=$(case $ext in mvl) echo 17 ;; grp) echo 16 ;; goo) echo 136 ;; esac)
  row "a: replace 1 MiB of 256 MiB .$ext" 1.1 $((256 * entry)) "cp + sync of the archive"
  # The same file work as the rewrite: the synced copy renamed over the
  # archive, which releases the old one (costly where blocks are discarded).
  pair "replace $ext, renamed" "rm -f '$work/replace/copy.$ext' && cp '$work/mid.$ext' '$work/replace/t.$ext'" \
       "$work/replace" "exec '$vrex' a t.$ext m000128.bin" \
       "$work/replace" "cp t.$ext copy.$ext && sync copy.$ext && mv copy.$ext t.$ext && sync ."
  row "a: replace 1 MiB of 256 MiB .$ext" - $((256 * entry)) "cp + sync, renamed over it"
  rm -f "$work/mid.$ext" "$work/replace/t.$ext" "$work/replace/copy.$ext"
done
echo "peak RSS goal: the directory (the table's room) + the copy buffer (1 MiB) + 4 MiB"
