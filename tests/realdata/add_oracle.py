#!/usr/bin/python3
"""Checks vrex a on real Doom WADs against an independent WAD reader.

usage: add_oracle.py VREX

The reader is the omg library (Debian package python3-omg). The WADs are
the IWADs freedoom1.wad and freedoom2.wad (package freedoom) and freedm.wad
(package freedm), and the PWAD dsda-doom.wad (package dsda-doom). On a copy
of each:

  a  of every file x wrote, from the folder x wrote it in, replaces every
     member in place: the reader sees the same directory (names, order,
     sizes) and the same bytes in every entry;
  a  of the first map's THINGS with other bytes: the reader finds them at
     the same directory index, every other entry as it was;
  a  of a new lump in a namespace: the reader finds it right before the end
     marker that closes the namespace's last block, and no new marker.

Then a new PWAD is made from a MAP01 folder of the ten lumps x wrote for
freedoom2's MAP01, and an S_START folder of a few of its sprites: the reader
sees MAP01, the ten lumps in the order the engines read them, then S_START,
the sprites and S_END.

Last, freedoom2.wad taken apart and put back together: x -all in an empty
folder, then there a of the folder into a new IWAD. The reader finds every
entry of the original (markers included) with the same full name and bytes,
and each map's lumps in their original order.

A missing tool or file is a failure with a message saying what to install.
"""
import os
import shutil
import sys
import tempfile

MAP_LUMPS = ["THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS", "SSECTORS", "NODES", "SECTORS", "REJECT",
             "BLOCKMAP"]
# (file, Debian package, kind)
WADS = [
    ("/usr/share/games/doom/freedoom1.wad", "freedoom", "IWAD"),
    ("/usr/share/games/doom/freedoom2.wad", "freedoom", "IWAD"),
    ("/usr/share/games/doom/freedm.wad", "freedm", "IWAD"),
    ("/usr/share/dsda-doom/dsda-doom.wad", "dsda-doom", "PWAD"),
]


from wad_realdata import LABEL_BELOW, fail, full_names, marker_kind, member_names, run_vrex, wad_reader

omg = wad_reader()

if len(sys.argv) != 2:
    fail("usage: add_oracle.py VREX")
VREX = sys.argv[1]


def lines_of(out, word):
    return [l[len(word) + 1:] for l in out.split("\n") if l.startswith(word + " ")]


class Snapshot:
    """Every entry of a WAD as the reader sees it: name, size, bytes."""

    def __init__(self, path):
        io = omg.wadio.WadIO(path)
        self.kind = io.header.type
        self.entries = [(e.name, e.size, io.read(i)) for i, e in enumerate(io.entries)]
        io.basefile.close()
        io.basefile = None

    def names(self):
        return [e[0] for e in self.entries]


def compare(what, before, after, changed=None):
    """after holds before's entries in before's order; `changed` maps an
    index to the (name, bytes) it must hold instead."""
    changed = changed or {}
    if after.kind != before.kind:
        fail("%s: the WAD is a %s now, was a %s" % (what, after.kind, before.kind))
    if len(after.entries) != len(before.entries):
        fail("%s: the reader finds %d entries, expected %d" % (what, len(after.entries), len(before.entries)))
    for index, (old, new) in enumerate(zip(before.entries, after.entries)):
        want = (changed[index][0], len(changed[index][1]), changed[index][1]) if index in changed else old
        if new[:2] != want[:2]:
            fail("%s: entry %d is %s (%d bytes), expected %s (%d bytes)" % (what, index, new[0], new[1], want[0], want[1]))
        if new[2] != want[2]:
            fail("%s: the bytes of entry %d (%s) differ" % (what, index, new[0]))


def check_every_member_replaced(wad, before, scratch):
    copy = os.path.join(scratch, "copy.wad")
    shutil.copyfile(wad, copy)
    folder = os.path.join(scratch, "x")
    os.mkdir(folder)
    code, out = run_vrex(VREX, folder, "x", copy)
    if code != 0:
        fail("%s: vrex x exited %d" % (wad, code))
    # Through a list file: vrex passes over arguments that begin with "-",
    # and dsda-doom.wad has a lump named -N0_TEX-.
    listing = os.path.join(scratch, "names")
    with open(listing, "w") as f:
        f.write("".join(n + "\n" for n in sorted(os.listdir(folder))))
    code, out = run_vrex(VREX, folder, "a", copy, "@" + listing)
    expected = [full for _, full in member_names([e[:2] for e in before.entries])]
    replacing = lines_of(out, "Replacing")
    if code != 0 or lines_of(out, "Adding") or sorted(replacing) != sorted(expected):
        fail("%s: a of what x wrote exited %d with %d replaced of %d members:\n%s"
             % (wad, code, len(replacing), len(expected), out[-1500:]))
    compare(wad + " after a of every member", before, Snapshot(copy))
    shutil.rmtree(folder)
    os.remove(copy)
    print("  a of what x wrote: %d members replaced, %d entries as they were" % (len(expected), len(before.entries)))


def check_map_lump_replaced(wad, before, scratch):
    maps = [full for _, full in member_names([e[:2] for e in before.entries]) if full.endswith("\\THINGS")]
    if not maps:
        print("  no map: a of THINGS not checked")
        return
    full = maps[0]
    index = [i for i, f in member_names([e[:2] for e in before.entries]) if f == full][0]
    new = before.entries[index][2][::-1] + b"\x01" * 10  # other bytes, another length
    copy = os.path.join(scratch, "copy.wad")
    shutil.copyfile(wad, copy)
    path = os.path.join(scratch, *full.split("\\"))
    os.makedirs(os.path.dirname(path))
    with open(path, "wb") as f:
        f.write(new)
    code, out = run_vrex(VREX, scratch, "a", "copy.wad", full.replace("\\", "/"))
    if code != 0 or lines_of(out, "Replacing") != [full]:
        fail("%s: a %s exited %d:\n%s" % (wad, full, code, out[-500:]))
    compare(wad + " after a " + full, before, Snapshot(copy), {index: ("THINGS", new)})
    os.remove(copy)
    print("  a %s: new bytes at entry %d, every other entry as it was" % (full, index))


def check_namespace_lump_added(wad, before, scratch):
    entries = before.entries
    starts = [e[0] for e in entries if e[1] < LABEL_BELOW and e[0].ljust(8, "\0")[1:7] == "_START"]
    if not starts:
        fail("%s: no namespace found" % wad)
    space = "S_START" if "S_START" in starts else starts[0]
    # The end marker closing the space's last block: the first end marker behind its last start.
    last = max(i for i, e in enumerate(entries) if e[0] == space and e[1] < LABEL_BELOW)
    end = next(i for i in range(last + 1, len(entries))
               if entries[i][1] < LABEL_BELOW and entries[i][0].ljust(8, "\0")[1:5] == "_END")
    new = bytes(range(256)) * 3
    copy = os.path.join(scratch, "copy.wad")
    shutil.copyfile(wad, copy)
    os.makedirs(os.path.join(scratch, space))
    with open(os.path.join(scratch, space, "VREXA0"), "wb") as f:
        f.write(new)
    code, out = run_vrex(VREX, scratch, "a", "copy.wad", space + "/VREXA0")
    if code != 0 or lines_of(out, "Adding") != [space + "\\VREXA0"]:
        fail("%s: a %s/VREXA0 exited %d:\n%s" % (wad, space, code, out[-500:]))
    after = Snapshot(copy)
    if after.entries[end] != ("VREXA0", len(new), new):
        fail("%s: entry %d is %s, not the new lump before %s" % (wad, end, after.entries[end][0], entries[end][0]))
    expected = Snapshot.__new__(Snapshot)
    expected.kind = before.kind
    expected.entries = entries[:end] + [after.entries[end]] + entries[end:]
    compare(wad + " after a " + space + "/VREXA0", expected, after)
    os.remove(copy)
    print("  a %s/VREXA0: entry %d, right before %s; no new marker" % (space, end, entries[end][0]))


def check_new_pwad(wad, scratch):
    code, out = run_vrex(VREX, scratch, "x", wad, "MAP01\\*", "S_START\\TROO*")
    sprites = sorted(os.listdir(os.path.join(scratch, "S_START")))
    if code != 0 or sorted(os.listdir(os.path.join(scratch, "MAP01"))) != sorted(MAP_LUMPS) or not sprites:
        fail("%s: vrex x of MAP01 and some sprites exited %d:\n%s" % (wad, code, out[-500:]))
    code, out = run_vrex(VREX, scratch, "a", "new.wad", "MAP01", "S_START")
    if code != 0 or not out.startswith(out.split("\n")[0] + "\nCreating new.wad\n"):
        fail("a new.wad MAP01 S_START exited %d:\n%s" % (code, out[-500:]))
    made = Snapshot(os.path.join(scratch, "new.wad"))

    def read(*path):
        with open(os.path.join(scratch, *path), "rb") as f:
            return f.read()

    expected = [("MAP01", 0, b"")] + [(n, len(read("MAP01", n)), read("MAP01", n)) for n in MAP_LUMPS]
    expected += [("S_START", 0, b"")] + [(n, len(read("S_START", n)), read("S_START", n)) for n in sprites]
    expected += [("S_END", 0, b"")]
    if made.kind != "PWAD":
        fail("new.wad is a %s" % made.kind)
    if made.names() != [e[0] for e in expected]:
        fail("new.wad holds %s, expected %s" % (made.names(), [e[0] for e in expected]))
    if made.entries != expected:
        fail("new.wad: the reader's bytes differ from the files")
    print("  a new.wad MAP01 S_START: MAP01 and its ten lumps in order, S_START, %d sprites, S_END" % len(sprites))


def check_round_trip(wad, scratch):
    folder = os.path.join(scratch, "x")
    os.mkdir(folder)
    code, out = run_vrex(VREX, folder, "x", wad, "-all")
    if code != 0:
        fail("%s: vrex x -all exited %d:\n%s" % (wad, code, out[-500:]))
    code, out = run_vrex(VREX, folder, "a", "../new.wad", "-iwad", ".")
    if code != 0 or not out.startswith(out.split("\n")[0] + "\nCreating ../new.wad\n"):
        fail("%s: a ../new.wad -iwad . exited %d:\n%s" % (wad, code, out[-1500:]))

    def named(snapshot):
        """(full name, bytes) of every entry, in directory order."""
        return list(zip(full_names([e[:2] for e in snapshot.entries]), [e[2] for e in snapshot.entries]))

    before, after = Snapshot(wad), Snapshot(os.path.join(scratch, "new.wad"))
    old, new = named(before), named(after)
    if after.kind != "IWAD":
        fail("new.wad is a %s" % after.kind)
    if sorted(old) != sorted(new):
        missing, extra = sorted(set(old) - set(new))[:5], sorted(set(new) - set(old))[:5]
        fail("%s: the round trip lost %s and made %s (names)" % (wad, [m[0] for m in missing], [e[0] for e in extra]))
    maps = [full for (full, _), e in zip(old, before.entries) if marker_kind(e[0], e[1]) == "map"]
    for map in maps:
        lumps = [(full, data) for full, data in old if full.startswith(map + "\\")]
        if [(full, data) for full, data in new if full.startswith(map + "\\")] != lumps:
            fail("%s: the lumps of %s come out in another order" % (wad, map))
    print("  x -all, then a of them into a new IWAD: %d entries of %d, the same full names and bytes; %d maps in order"
          % (len(new), len(old), len(maps)))


def main():
    if not os.path.isfile(VREX):
        fail("vrex binary %s not found" % VREX)
    for wad, package, _ in WADS:
        if not os.path.isfile(wad):
            fail("%s is missing: install the Debian package %s (apt-get install %s)" % (wad, package, package))
    for wad, package, kind in WADS:
        print(wad)
        before = Snapshot(wad)
        if before.kind != kind:
            fail("%s is a %s, expected a %s" % (wad, before.kind, kind))
        for step in (check_every_member_replaced, check_map_lump_replaced, check_namespace_lump_added):
            scratch = tempfile.mkdtemp(prefix="vrex-add-")
            try:
                step(wad, before, scratch)
            finally:
                shutil.rmtree(scratch, ignore_errors=True)
    scratch = tempfile.mkdtemp(prefix="vrex-add-")
    try:
        check_new_pwad(WADS[1][0], scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    scratch = tempfile.mkdtemp(prefix="vrex-add-")
    try:
        check_round_trip(WADS[1][0], scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("PASS")


main()
