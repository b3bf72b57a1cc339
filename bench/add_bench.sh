#!/usr/bin/env bash
# Adding and replacing members: vrex a against a baseline that writes the
# same data and makes it durable, measured in the same run. vrex syncs what
# it commits, so every baseline syncs its output too. Prints seconds, ratios
# and peak RSS; not part of the tests.
#
#   bench/add_bench.sh [BUILD_DIR]      (default: build-bench, configured Release)
#
# Cases (inputs made here on the disk under $TMPDIR, about 3.5 GiB while it
# runs, removed at the end):
#   a new PACK of 1024 files of 1 MiB      vs  tar -cf + sync of the tar
#   a new PACK of 20,000 files of 4 KiB    vs  tar -cf + sync of the tar
#     in 50 folders
#   replace one 1 MiB member of a 1 GiB    vs  cp + sync of the copy
#     PACK
#   replace one lump of freedoom2.wad      vs  cp + sync of the copy
#     (a copy of it; skipped when missing)
#   add 1,000 and 10,000 top-level lumps   vs  cp of the PWAD + the lumps
#     of 300 bytes to a small PWAD              appended + sync of the copy
# Each case runs ADD_BENCH_RUNS times (default 3), baseline and vrex in
# turns; the fastest run counts. Archives are laid out anew (and synced)
# before each run, outside the time, and outputs of the previous run are
# removed and synced away first. Wall time in milliseconds from date(1),
# peak RSS from /usr/bin/time.
set -euo pipefail
. "$(dirname "$0")/release_vrex.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-add-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
runs=${ADD_BENCH_RUNS:-3}
freedoom=/usr/share/games/doom/freedoom2.wad

. "$(dirname "$0")/pair.sh"

members() { "$vrex" l "$1" | sed -n 's/^\([0-9]*\) matches found$/\1/p'; }

echo "making inputs in $work ..."
mkdir -p "$work/big" "$work/small" "$work/replace" "$work/wad" "$work/lumps"
python3 "$top/bench/make_members.py" "$work/big" 1024 1048576 0
python3 "$top/bench/make_members.py" "$work/small" 20000 4096 50
python3 "$top/bench/make_pack.py" "$work/big" "$work/big.pak"
# A new 1 MiB file for the member m000512.bin of big.pak.
head -c 1048576 /dev/urandom > "$work/replace/m000512.bin"
cat > "$work/make_wad.py" <<'EOF'
import random, struct, sys
# A small PWAD: one map of 10 lumps and a sprite namespace of 100 lumps;
# then COUNT files L0000.. of 300 bytes in DIR and a list of their names.
out, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(7)
data, entries = bytearray(), []
def lump(name, size):
    entries.append((12 + len(data), size, name))
    data.extend(rng.randbytes(size))
entries.append((0, 0, "MAP01"))
for n in ["THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS", "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"]:
    lump(n, rng.randint(100, 4000))
entries.append((0, 0, "S_START"))
for k in range(100):
    lump("SPR%04d" % k, rng.randint(100, 4000))
entries.append((0, 0, "S_END"))
with open(out, "wb") as f:
    f.write(b"PWAD" + struct.pack("<II", len(entries), 12 + len(data)) + data)
    for offset, size, name in entries:
        f.write(struct.pack("<II8s", offset, size, name.encode()))
body = rng.randbytes(300)
for k in range(count):
    with open("%s/L%04d" % (folder, k), "wb") as f:
        f.write(body[k % 7:] + body[:k % 7])
for n in (1000, count):
    with open("%s/list%d" % (folder, n), "w") as f:
        f.write("".join("L%04d\n" % k for k in range(n)))
EOF
python3 "$work/make_wad.py" "$work/base.wad" "$work/lumps" 10000
sync
cat "$work/big.pak" > /dev/null  # warm the page cache
find "$work/big" "$work/small" "$work/lumps" -type f -exec cat {} + > /dev/null

header

# 1. A new PACK of big files; 2. of many small ones in folders.
for set in big small; do
  if [ $set = big ]; then label="a new PACK, 1024 x 1 MiB"; count=1024; target=1.1
  else label="a new PACK, 20000 x 4 KiB in 50 folders"; count=20000; target=1.2; fi
  pair "$label" "rm -f '$work/new.pak' '$work/new.pak.vrex-new' '$work/new.tar'" \
       "$work" "exec '$vrex' a new.pak $set/" \
       "$work" "tar -cf new.tar $set/ && sync new.tar"
  check "[ \"\$(members '$work/new.pak')\" = $count ]" "new.pak does not list $count members"
  row "$label" "$target" $((count * 64)) "tar -cf + sync"
done
rm -rf "$work/out" && mkdir -p "$work/out"
(cd "$work/out" && "$vrex" x "$work/new.pak" > /dev/null)
check "diff -r '$work/small' '$work/out/small' > /dev/null" "new.pak of small/ extracts other files"
rm -rf "$work/out" "$work/new.pak" "$work/new.tar"

# 3. One member of the 1 GiB PACK replaced.
pair "replace" "rm -f '$work/replace/copy.pak' && cp '$work/big.pak' '$work/replace/t.pak'" \
     "$work/replace" "exec '$vrex' a t.pak m000512.bin" \
     "$work/replace" "cp t.pak copy.pak && sync copy.pak"
check "[ \"\$(members '$work/replace/t.pak')\" = 1024 ]" "t.pak does not list 1024 members"
mkdir -p "$work/out"
(cd "$work/out" && "$vrex" e "$work/replace/t.pak" m000512.bin m000511.bin > /dev/null)
check "cmp -s '$work/out/M000512.BIN' '$work/replace/m000512.bin' || cmp -s '$work/out/m000512.bin' '$work/replace/m000512.bin'" \
      "the replaced member reads back other bytes"
row "a: replace 1 MiB member of 1 GiB PACK" 0.05 $((1024 * 64)) "cp + sync of the copy"
rm -rf "$work/out" "$work/replace" "$work/big.pak"

# 4. One lump of freedoom2.wad replaced, in a copy on the disk.
if [ -f "$freedoom" ]; then
  head -c 10752 /dev/urandom > "$work/wad/PLAYPAL.lmp"
  entries=$(python3 -c "import struct,sys; print(struct.unpack('<I', open(sys.argv[1],'rb').read(8)[4:])[0])" "$freedoom")
  pair "wad replace" "rm -f '$work/wad/copy.wad' && cp '$freedoom' '$work/wad/t.wad'" \
       "$work/wad" "exec '$vrex' a t.wad PLAYPAL.lmp" \
       "$work/wad" "cp t.wad copy.wad && sync copy.wad"
  check "[ \"\$(members '$work/wad/t.wad')\" = \"\$(members '$freedoom')\" ]" "t.wad lists another number of lumps"
  row "a: replace 1 lump of freedoom2.wad" 0.1 $((entries * 16)) "cp + sync of the copy"
fi

# 5. 1,000 and 10,000 new top-level lumps in one run each.
declare -A took
for n in 1000 10000; do
  pair "lumps $n" "rm -f '$work/lumps/copy.wad' && cp '$work/base.wad' '$work/lumps/t.wad'" \
       "$work/lumps" "exec '$vrex' a t.wad @list$n" \
       "$work/lumps" "cp t.wad copy.wad && head -n $n list$n | xargs cat >> copy.wad && sync copy.wad"
  check "[ \"\$(members '$work/lumps/t.wad')\" = $((110 + n)) ]" "t.wad does not list $((110 + n)) lumps"
  took[$n]=${best_v% *}
  row "a: $n lumps of 300 B to a PWAD" - $(( (122 + n) * 16)) "cp + append + sync"
done
echo "10,000 lumps against 1,000: $(awk "BEGIN{printf \"%.2f\", ${took[10000]} / ${took[1000]}}") times (target <= 12)"
echo "peak RSS goal: the new directory + the copy buffer (1 MiB) + 4 MiB"
