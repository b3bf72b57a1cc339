#!/usr/bin/env bash
# Doom WADs: vrex x and vrex l against an independent WAD reader (the omg
# library of python3-omg) extracting and listing the same lumps under the
# same names, measured in the same run. Prints seconds, ratios and peak RSS.
# Not part of the tests.
#
#   bench/wad_bench.sh [BUILD_DIR]      (default: build-bench, configured Release)
#
# Inputs: freedoom2.wad (Debian package freedoom; skipped when missing) and a
# synthetic PWAD of 100,000 lumps made here (5,000 maps of 10 lumps and 50
# namespaces of 1,000 lumps, 100 to 400 bytes each; about 25 MiB).
set -euo pipefail
. "$(dirname "$0")/release_vrex.sh"
python=/usr/bin/python3
if ! "$python" -c "import omg.wadio" 2> /dev/null; then
  echo "python3-omg is missing (apt-get install python3-omg)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vrex-wad-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The reader's side: names by the marker rule (a map marker prefixes the next
# 10 entries, a namespace start everything up to the entry after its end),
# lumps of 100 bytes or more; "l" prints vrex's listing lines, "x" writes the
# files vrex writes.
cat > "$work/reader.py" <<'EOF'
import os, sys
import omg.wadio
op, path = sys.argv[1], sys.argv[2]
io = omg.wadio.WadIO(path)
prefix, countdown, out = "", 1, []
for index, e in enumerate(io.entries):
    if countdown == 1:
        prefix, countdown = "", 0
    elif countdown > 1:
        countdown -= 1
    name = e.name
    if e.size < 100:
        padded = name.ljust(8, "\0")
        if padded.startswith("MAP") or (padded[0] == "E" and padded[2] == "M"):
            countdown, prefix = 11, prefix + name + "\\"
        elif padded[1:7] == "_START":
            countdown, prefix = -1, prefix + name + "\\"
        elif padded[1:5] == "_END":
            countdown = 1
        continue
    full = prefix + name
    if op == "l":
        out.append("%-17.17s\t%-7d\t%08X\n" % (full, e.size, e.ptr))
    else:
        target = full.replace("\\", "/")
        folder = os.path.dirname(target)
        if folder:
            os.makedirs(folder, exist_ok=True)
        with open(target, "wb") as f:
            f.write(io.read(index))
sys.stdout.write("".join(out))
EOF

cat > "$work/make_wad.py" <<'EOF'
import random, struct, sys
rng = random.Random(5)
lumps = ["THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS", "SSECTORS", "NODES", "SECTORS", "REJECT", "BLOCKMAP"]
data, entries = bytearray(), []
def lump(name):
    size = rng.randint(100, 400)
    entries.append((12 + len(data), size, name))
    data.extend(rng.randbytes(size))
def marker(name):
    entries.append((0, 0, name))
for m in range(5000):
    marker("MAP%05d" % m)
    for n in lumps:
        lump(n)
for s in range(50):
    marker("S_START")
    for k in range(1000):
        lump("L%07d" % (s * 1000 + k))
    marker("S_END")
with open(sys.argv[1], "wb") as f:
    f.write(b"PWAD" + struct.pack("<II", len(entries), 12 + len(data)) + data)
    for offset, size, name in entries:
        f.write(struct.pack("<II8s", offset, size, name.encode()))
EOF

# time_one DIR CMD...: "seconds peakKiB" of one run in an emptied DIR. The
# removal of the previous run's files is written out first, so that its
# disk work does not land in the run being timed.
time_one() {
  local dir=$1; shift
  rm -rf "$dir" && mkdir -p "$dir" && sync
  (cd "$dir" && /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1)
}

# time_pair OP WAD: the best of 3 runs of vrex and of the reader, taken in
# turns so that other load on the machine hits both alike.
# Prints "vrexSeconds vrexKiB readerSeconds readerKiB".
time_pair() {
  local op=$1 wad=$2 vb="" vm="" rb="" rk=""
  for _ in 1 2 3; do
    local v r
    v=$(time_one "$work/out" "$vrex" "$op" "$wad")
    r=$(time_one "$work/out" "$python" "$work/reader.py" "$op" "$wad")
    if [ -z "$vb" ] || awk "BEGIN{exit !(${v% *} < $vb)}"; then vb=${v% *}; vm=${v#* }; fi
    if [ -z "$rb" ] || awk "BEGIN{exit !(${r% *} < $rb)}"; then rb=${r% *}; rk=${r#* }; fi
  done
  echo "$vb $vm" "$rb $rk"
}

row() {  # case vrexSeconds vrexKiB readerSeconds readerKiB
  local ratio
  ratio=$(awk "BEGIN{ if ($4 > 0) printf \"%.2f\", $2 / $4; else print \"-\" }")
  printf "%-30s %8s %8s %6s %9s %9s\n" "$1" "$2" "$4" "$ratio" "$3" "$5"
}

# Both sides must produce the same files and listing lines before timing.
same_results() {  # wad
  local wad=$1
  rm -rf "$work/a" "$work/b" && mkdir -p "$work/a" "$work/b"
  (cd "$work/a" && "$vrex" x "$wad" > /dev/null)
  (cd "$work/b" && "$python" "$work/reader.py" x "$wad")
  diff -r "$work/a" "$work/b" > /dev/null || { echo "extractions differ for $wad" >&2; exit 1; }
  "$vrex" l "$wad" | sed -n '6,$p' | sed '/^$/,$d' > "$work/a.txt"
  "$python" "$work/reader.py" l "$wad" > "$work/b.txt"
  cmp -s "$work/a.txt" "$work/b.txt" || { echo "listings differ for $wad" >&2; exit 1; }
  rm -rf "$work/a" "$work/b" "$work/a.txt" "$work/b.txt"
}

echo "making inputs in $work ..."
"$python" "$work/make_wad.py" "$work/synthetic.wad"
inputs=("$work/synthetic.wad")
freedoom=/usr/share/games/doom/freedoom2.wad
if [ -f "$freedoom" ]; then inputs=("$freedoom" "${inputs[@]}"); fi

printf "%-30s %8s %8s %6s %9s %9s\n" case vrex_s omg_s ratio vrex_KiB omg_KiB
for wad in "${inputs[@]}"; do
  cat "$wad" > /dev/null  # warm the page cache
  same_results "$wad"
  label=$(basename "$wad" .wad)
  # shellcheck disable=SC2046
  row "x $label" $(time_pair x "$wad")
  # shellcheck disable=SC2046
  row "l $label" $(time_pair l "$wad")
done
rm -rf "$work/out"
