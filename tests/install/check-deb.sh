#!/bin/sh
# check-deb.sh BUILD_DIR SOURCE_DIR BUILT_VREX VERSION
# Makes the .deb of BUILD_DIR with cpack, unpacks it into a scratch root with
# dpkg -x, checks the files (the licence as /usr/share/doc/vrex/copyright, the
# man page's version) and runs the installed vrex and vrex-host on the sample
# archive.
set -eu
build=$1
source=$2
builtVrex=$3
version=$4
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vrex-deb-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/cpack" > "$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/cpack/vrex_"$version"_*.deb) || fail "no vrex_${version}_*.deb"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "$depends" | grep -q 'zlib1g' || fail "the package does not depend on zlib1g"
[ "$(dpkg-deb -f "$deb" Package)" = vrex ] || fail "package name"

root=$scratch/root
dpkg -x "$deb" "$root"
for f in usr/bin/vrex usr/bin/vrex-host usr/lib/vrex/VREX.so usr/share/man/man1/vrex.1.gz \
         usr/share/doc/vrex/README.md usr/share/doc/vrex/copyright; do
  [ -f "$root/$f" ] || fail "$f not installed"
done
cmp "$source/LICENSE" "$root/usr/share/doc/vrex/copyright" || fail "copyright is not the licence"
gzip -dc "$root/usr/share/man/man1/vrex.1.gz" | grep -q '^\.SH EXIT STATUS' || fail "man page"
# The man page names the version the package has, major.minor.
th=$(gzip -dc "$root/usr/share/man/man1/vrex.1.gz" | head -n 1)
[ "$th" = ".TH VREX 1 \"\" \"vrex ${version%.*}\" \"User Commands\"" ] || fail "man page version: $th"

cp "$source/samples/sample.pak" "$scratch/sample.pak"

out=$("$root/usr/bin/vrex" l "$scratch/sample.pak") || fail "vrex l exit $?"
echo "$out"
echo "$out" | grep -q '^Searching PACK ([0-9]* files)$' || fail "listing"
count=$(echo "$out" | sed -n 's/^Searching PACK (\([0-9]*\) files)$/\1/p')
echo "$out" | grep -q "^$count matches found\$" || fail "summary"

# The installed vrex extracts what the built one extracts, byte for byte.
mkdir "$scratch/installed" "$scratch/built"
(cd "$scratch/installed" && "$root/usr/bin/vrex" x ../sample.pak > /dev/null) || fail "installed vrex x"
(cd "$scratch/built" && "$builtVrex" x ../sample.pak > /dev/null) || fail "built vrex x"
diff -r "$scratch/installed" "$scratch/built" || fail "extracted files differ"
[ -n "$(ls -A "$scratch/installed")" ] || fail "nothing extracted"

# vrex-host loads the installed module and runs the installed vrex beside it.
host=$("$root/usr/bin/vrex-host" "$root/usr/lib/vrex/VREX.so" list "$scratch/sample.pak") || fail "vrex-host list"
echo "$host"
[ "$(echo "$host" | head -n 1)" = "tag 0x4B434150 Quake Pack Pak" ] || fail "vrex-host tag line"
[ "$(echo "$host" | grep -c "$(printf '\t')")" = "$count" ] || fail "vrex-host items"
mkdir "$scratch/viahost"
(cd "$scratch/viahost" && "$root/usr/bin/vrex-host" "$root/usr/lib/vrex/VREX.so" run 2 ../sample.pak > run.out) ||
  fail "vrex-host run 2 (test through vrex)"
grep -q "^$count matches found\$" "$scratch/viahost/run.out" || fail "vrex-host run 2 output"
echo "package checks passed"
