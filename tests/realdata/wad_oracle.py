#!/usr/bin/python3
"""Checks vrex on real Doom IWADs against an independent WAD reader.

usage: wad_oracle.py VREX [WAD...]

The reader is the omg library (Debian package python3-omg); the IWADs are
freedoom1.wad and freedoom2.wad of the Debian package freedoom unless WADs
are named (or VREX_FREEDOOM_DIR points elsewhere). For each WAD:

  l  lists exactly the entries of 100 bytes or more, in directory order,
     with the folder prefix their map or namespace markers give them,
     their size and their data offset; with -all every entry but the
     markers;
  x  writes every such lump, under its prefix folders, with the bytes the
     reader reads for it; the reader's own map and namespace grouping
     agrees with the folders;
  t  tests every member without a failure;
  d  (on copies) of one namespace's lumps and of one map's lumps leaves a
     WAD the reader opens, whose remaining entries are the others, in the
     same directory order, markers included (but a map's marker, which goes
     with its lumps and labels), each with the same bytes.

A missing tool or file is a failure with a message saying what to install.
"""
import os
import shutil
import sys
import tempfile

from wad_realdata import LABEL_BELOW, fail, marker_kind, member_names, run_vrex, wad_reader

omg = wad_reader()

if len(sys.argv) < 2:
    fail("usage: wad_oracle.py VREX [WAD...]")
VREX = sys.argv[1]
FREEDOOM_DIR = os.environ.get("VREX_FREEDOOM_DIR", "/usr/share/games/doom")
WADS = sys.argv[2:] or [os.path.join(FREEDOOM_DIR, n) for n in ("freedoom1.wad", "freedoom2.wad")]


def listing_lines(out, what):
    lines = out.split("\n")
    heading = ["", "name\t\t\tsize\tseek", "-" * 40]
    if lines[2:5] != heading:
        fail("%s: listing heading is %r" % (what, lines[2:5]))
    body = lines[5:]
    end = body.index("")
    return body[:end], body[end + 1:]


def files_below(root):
    found = {}
    for folder, _, names in os.walk(root):
        for n in names:
            path = os.path.join(folder, n)
            found[os.path.relpath(path, root)] = path
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_listing(wad, entries, members, *options):
    code, out = run_vrex(VREX, os.path.dirname(wad), "l", wad, *options)
    if code != 0:
        fail("vrex l %s exited %d" % (wad, code))
    got, tail = listing_lines(out, wad)
    expected = ["%-17.17s\t%-7d\t%08X" % (full, entries[i].size, entries[i].ptr) for i, full in members]
    if got != expected:
        for n, (a, b) in enumerate(zip(got, expected)):
            if a != b:
                fail("%s: listing line %d is %r, the reader gives %r" % (wad, n, a, b))
        fail("%s: vrex lists %d members, the reader finds %d" % (wad, len(got), len(expected)))
    if tail[0] != "%d matches found" % len(members):
        fail("%s: summary %r" % (wad, tail[0]))
    print("  l%s: %d members of %d entries, prefixes and offsets agree"
          % ("".join(" " + o for o in options), len(members), len(entries)))


def check_extraction(wad, io, members, scratch):
    folder = os.path.join(scratch, "x")
    os.mkdir(folder)
    code, out = run_vrex(VREX, folder, "x", wad)
    if code != 0:
        fail("vrex x %s exited %d" % (wad, code))
    extracting = [l for l in out.split("\n") if l.startswith("Extracting ")]
    if len(extracting) != len(members) or "error" in out or "skiped" in out:
        fail("%s: vrex x reported %d extractions for %d members:\n%s" % (wad, len(extracting), len(members), out[-2000:]))
    expected = {}
    for index, full in members:  # a later lump of the same name overwrites an earlier one
        expected[full.replace("\\", os.sep)] = index
    written = files_below(folder)
    if set(written) != set(expected):
        missing = sorted(set(expected) - set(written))[:5]
        extra = sorted(set(written) - set(expected))[:5]
        fail("%s: x wrote other files than expected; missing %s, unexpected %s" % (wad, missing, extra))
    for path, index in expected.items():
        if read(written[path]) != io.read(index):
            fail("%s: %s differs from the reader's lump %d" % (wad, path, index))

    # The reader's own grouping: sprites, patches, flats between their
    # markers, and maps behind their header lump.
    grouped = 0
    whole = omg.WAD(wad)
    for group, marker in (("sprites", "S_START"), ("patches", "P_START"), ("flats", "F_START")):
        for name, lump in getattr(whole, group).items():
            if len(lump.data) < LABEL_BELOW:
                continue
            path = os.path.join(marker, name.replace("\\", os.sep))
            if path not in written or read(written[path]) != lump.data:
                fail("%s: the reader's %s lump %s is not extracted as %s" % (wad, group, name, path))
            grouped += 1
    for mapname, lumps in whole.maps.items():
        for name, lump in lumps.items():
            if name == "_HEADER_" or len(lump.data) < LABEL_BELOW:
                continue
            path = os.path.join(mapname, name)
            if path not in written or read(written[path]) != lump.data:
                fail("%s: the reader's map lump %s of %s is not extracted as %s" % (wad, name, mapname, path))
            grouped += 1
    print("  x: %d files byte-identical to the reader's lumps; %d of them match its map and namespace groups"
          % (len(expected), grouped))
    shutil.rmtree(folder)


def check_tilde_selection(wad, io, members, scratch):
    """A lump whose own name holds a backslash is also selected with "~"."""
    for index, full in members:
        own = io.entries[index].name
        if "\\" not in own:
            continue
        folder = os.path.join(scratch, "tilde")
        os.mkdir(folder)
        shown = full[: len(full) - len(own)] + own.replace("\\", "~")
        code, out = run_vrex(VREX, folder, "x", wad, shown)
        written = files_below(folder)
        path = full.replace("\\", os.sep)
        if code != 0 or "1 matches found" not in out or list(written) != [path] or read(written[path]) != io.read(index):
            fail("%s: pattern %s did not extract exactly %s:\n%s" % (wad, shown, full, out))
        print("  x %s: extracts %s" % (shown, full))
        shutil.rmtree(folder)
        return


def check_test(wad, members, scratch):
    code, out = run_vrex(VREX, scratch, "t", wad)
    testing = [l for l in out.split("\n") if l.startswith("Testing ")]
    if code != 0 or len(testing) != len(members) or "error" in out:
        fail("%s: vrex t exited %d with %d test lines for %d members" % (wad, code, len(testing), len(members)))
    if os.listdir(scratch):
        fail("%s: vrex t wrote files" % wad)
    print("  t: %d members tested" % len(testing))


def check_deletion(wad, io, members, scratch, marker):
    copy = os.path.join(scratch, "copy.wad")
    shutil.copyfile(wad, copy)
    pattern = marker + "\\*"
    gone = [(i, full) for i, full in members if full.startswith(marker + "\\")]
    code, out = run_vrex(VREX, scratch, "d", "copy.wad", pattern)
    if code != 0:
        fail("%s: vrex d %s exited %d:\n%s" % (wad, pattern, code, out[-300:]))
    deleting = [l[len("Deleting "):] for l in out.split("\n") if l.startswith("Deleting ")]
    if deleting != [full for _, full in gone]:
        fail("%s: vrex d %s deleted %d lumps, the reader expects %d" % (wad, pattern, len(deleting), len(gone)))
    if "%d matches found" % len(gone) not in out:
        fail("%s: vrex d %s summary:\n%s" % (wad, pattern, out[-300:]))

    after = omg.wadio.WadIO(copy)
    removed = set(i for i, _ in gone)
    entries = [(e.name, e.size) for e in io.entries]
    for i, (name, size) in enumerate(entries):  # a map whose lumps all go takes its marker and labels
        places = range(i + 1, min(i + 11, len(entries)))
        lumps = [j for j in places if entries[j][1] >= LABEL_BELOW]
        if marker_kind(name, size) == "map" and lumps and set(lumps) <= removed:
            removed |= set([i]) | set(places)
    kept = [i for i in range(len(io.entries)) if i not in removed]
    if after.header.type != io.header.type or len(after.entries) != len(kept):
        fail("%s: after d %s the reader finds %d entries, expected %d" % (wad, pattern, len(after.entries), len(kept)))
    for position, (entry, index) in enumerate(zip(after.entries, kept)):
        original = io.entries[index]
        if entry.name != original.name or entry.size != original.size:
            fail("%s: after d %s entry %d is %s (%d bytes), expected %s (%d bytes)"
                 % (wad, pattern, position, entry.name, entry.size, original.name, original.size))
        if after.read(position) != io.read(index):
            fail("%s: after d %s the data of %s (entry %d) changed" % (wad, pattern, entry.name, position))
    # Compaction packs the kept data behind the header without gaps, then
    # the directory: 12 bytes + every kept byte once + 16 per entry.
    ranges = sorted((io.entries[i].ptr, io.entries[i].ptr + io.entries[i].size) for i in kept if io.entries[i].size)
    kept_bytes, reach = 0, 0
    for start, end in ranges:
        start = max(start, reach)
        if end > start:
            kept_bytes += end - start
            reach = end
    before, now = os.path.getsize(wad), os.path.getsize(copy)
    if now != 12 + kept_bytes + 16 * len(kept):
        fail("%s: after d %s the file has %d bytes, expected 12 + %d + 16 x %d"
             % (wad, pattern, now, kept_bytes, len(kept)))
    print("  d %s: %d lumps deleted; %d entries remain in order, byte-identical; %d -> %d bytes"
          % (pattern, len(gone), len(kept), before, now))
    after.basefile.close()
    after.basefile = None
    os.remove(copy)


def markers(io):
    """First and last namespace start, and the first map marker."""
    starts = [e.name for e in io.entries if e.size < LABEL_BELOW and e.name.ljust(8, "\0")[1:7] == "_START"]
    maps = [e.name for e in io.entries if e.size < LABEL_BELOW and
            (e.name.startswith("MAP") or (len(e.name) > 2 and e.name[0] == "E" and e.name[2] == "M"))]
    if not starts or not maps:
        fail("no namespace or map markers found")
    return sorted(set([starts[0], starts[-1]])) + [maps[0]]


def main():
    if not os.path.isfile(VREX) and not os.environ.get("VREX_E2E_EXE"):
        fail("vrex binary %s not found" % VREX)
    for wad in WADS:
        if not os.path.isfile(wad):
            fail("%s is missing: install the Debian package freedoom (apt-get install freedoom)" % wad)
    for wad in WADS:
        wad = os.path.abspath(wad)
        print(wad)
        io = omg.wadio.WadIO(wad)
        members = member_names([(e.name, e.size) for e in io.entries])
        check_listing(wad, io.entries, members)
        check_listing(wad, io.entries, member_names([(e.name, e.size) for e in io.entries], True), "-all")
        for step in ("x", "tilde", "t", "d"):
            scratch = tempfile.mkdtemp(prefix="vrex-realdata-")
            try:
                if step == "x":
                    check_extraction(wad, io, members, scratch)
                elif step == "tilde":
                    check_tilde_selection(wad, io, members, scratch)
                elif step == "t":
                    check_test(wad, members, scratch)
                else:
                    for marker in markers(io):
                        check_deletion(wad, io, members, scratch, marker)
            finally:
                shutil.rmtree(scratch, ignore_errors=True)
        io.basefile.close()
        io.basefile = None
    print("PASS")


main()
