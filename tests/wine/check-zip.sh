#!/bin/sh
# check-zip.sh BUILD_DIR OBJDUMP SAMPLE_ARCHIVE VERSION LICENSE
# Makes the Windows zip with cpack, checks that it holds exactly vrex.exe,
# VREX.dll, vrex-host.exe, README.txt and LICENSE.txt (the two texts with CRLF
# line ends, LICENSE.txt being LICENSE), checks the PE files as shipped
# (stripped), and runs them from the unpacked folder under Wine: vrex-host.exe
# loads the VREX.dll beside it and starts the vrex.exe beside it.
set -eu
build=$1
objdump=$2
sample=$3
version=$4
license=$5
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vrex-zip-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G ZIP -B "$scratch/cpack" > "$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
zip=$scratch/cpack/vrex-$version-win32.zip
[ -f "$zip" ] || fail "no vrex-$version-win32.zip"
ls -l "$zip"

mkdir "$scratch/unpacked"
python3 - "$zip" "$scratch/unpacked" "$license" <<'PY' || fail "zip contents"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    print("zip holds:", " ".join(names))
    expected = ["LICENSE.txt", "README.txt", "VREX.dll", "vrex-host.exe", "vrex.exe"]
    if names != expected:
        sys.exit("expected exactly " + ", ".join(expected))
    for text in ["README.txt", "LICENSE.txt"]:
        data = z.read(text)
        if b"\n" not in data or data.count(b"\r\n") != data.count(b"\n"):
            sys.exit(text + " must have CRLF line ends")
    with open(sys.argv[3], "rb") as f:
        if z.read("LICENSE.txt") != f.read().replace(b"\n", b"\r\n"):
            sys.exit("LICENSE.txt is not LICENSE")
    z.extractall(sys.argv[2])
PY

dir=$scratch/unpacked
sh "$here/check-pe.sh" "$objdump" "$dir/vrex.exe" || fail "vrex.exe"
sh "$here/check-pe.sh" "$objdump" "$dir/vrex-host.exe" || fail "vrex-host.exe"
sh "$here/check-pe.sh" "$objdump" "$dir/VREX.dll" exports || fail "VREX.dll"

cp "$sample" "$dir/sample.pak"
cd "$dir"
list=$(wine vrex-host.exe VREX.dll list sample.pak | tr -d '\r') || fail "vrex-host list"
echo "$list"
[ "$(echo "$list" | head -n 1)" = "tag 0x4B434150 Quake Pack Pak" ] || fail "vrex-host tag line"
count=$(echo "$list" | grep -c "$(printf '\t')")
mkdir out
(cd out && wine ../vrex-host.exe ../VREX.dll run 0 ../sample.pak | tr -d '\r' > ../run.out) || fail "vrex-host run 0"
cat run.out
grep -q "^$count matches found\$" run.out || fail "vrex.exe did not extract through vrex-host"
[ "$(find out -type f | wc -l)" = "$count" ] || fail "extracted files"
echo "zip checks passed"
