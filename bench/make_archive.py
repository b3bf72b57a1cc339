#!/usr/bin/env python3
"""make_archive.py SOURCE_DIR OUT: an archive of every file below SOURCE_DIR
(names: their last component), its format by OUT's extension: .lod (room for
10,000 entries, members stored), .bin (CSid), .stk, .hog, .mvl, .grp, .sin
(SPAK), .rff (0x0301), .gob (v1), .goo (GOB v2). The data lie back to back
behind the table (HOG: each behind its entry; SPAK, RFF and GOB v1: behind
the header, the table behind them), in name order.
"""
import os
import struct
import sys


def main(source, out):
    files = sorted(os.path.join(root, n) for root, _, names in os.walk(source) for n in names)
    sizes = [os.path.getsize(f) for f in files]
    names = [os.path.basename(f).encode() for f in files]
    kind = os.path.splitext(out)[1].lower()
    n = len(files)
    with open(out, "wb") as f:
        if kind == ".hog":
            f.write(b"DHF")
            for name, path, size in zip(names, files, sizes):
                f.write(name.ljust(13, b"\0") + struct.pack("<I", size))
                with open(path, "rb") as src:
                    f.write(src.read())
            return
        if kind == ".sin":
            f.write(b"SPAK" + struct.pack("<II", 12 + sum(sizes), 128 * n))
            for path in files:
                with open(path, "rb") as src:
                    f.write(src.read())
            at = 12
            for name, size in zip(names, sizes):
                f.write(name.ljust(120, b"\0") + struct.pack("<II", at, size))
                at += size
            return
        if kind in (".rff", ".gob"):
            rff = kind == ".rff"
            header = 32 if rff else 8
            dir_at = header + sum(sizes)
            f.write(b"RFF\x1a" + struct.pack("<HHII", 0x0301, 0, dir_at, n) + b"\0" * 16 if rff
                    else b"GOB\x0a" + struct.pack("<I", dir_at))
            for path in files:
                with open(path, "rb") as src:
                    f.write(src.read())
            at, table = header, bytearray(b"" if rff else struct.pack("<I", n))
            for name, size in zip(names, sizes):
                base, _, ext = name.rpartition(b".")
                if rff:
                    table += b"\0" * 16 + struct.pack("<IIII", at, size, 0, 0) + b"\0" + ext.ljust(3, b"\0")
                    table += base.ljust(8, b"\0") + struct.pack("<I", 0)
                else:
                    table += struct.pack("<II", at, size) + name.ljust(13, b"\0")
                at += size
            key = 2 * dir_at & 0xFFFF
            for i in range(len(table) if rff else 0):
                table[i] ^= ((key + i) >> 1) & 0xFF
            f.write(table)
            return
        if kind == ".lod":
            head, entry, room = b"LOD\0" + struct.pack("<II", 200, n) + b"\0" * 80, 32, max(n, 10000)
        elif kind == ".bin":
            head, entry, room = b"CSid" + struct.pack("<H", n), 21, n
        elif kind == ".mvl":
            head, entry, room = b"DMVL" + struct.pack("<I", n), 17, n
        elif kind == ".grp":
            head, entry, room = b"KenSilverman" + struct.pack("<I", n), 16, n
        elif kind == ".goo":
            head, entry, room = b"GOB " + struct.pack("<III", 20, 12, n), 136, n
        else:
            head, entry, room = struct.pack("<H", n), 22, n
        at = len(head) + room * entry
        table = []
        for name, size in zip(names, sizes):
            if kind == ".lod":
                table.append(name.ljust(16, b"\0") + struct.pack("<IIII", at, size, 0, 0))
            elif kind == ".bin":
                table.append(bytes([len(name)]) + name.ljust(12, b"\0") + struct.pack("<II", size, at))
            elif kind == ".mvl":
                table.append(name.ljust(13, b"\0") + struct.pack("<I", size))
            elif kind == ".grp":
                table.append(name.ljust(12, b"\0") + struct.pack("<I", size))
            elif kind == ".goo":
                table.append(struct.pack("<II", at, size) + name.ljust(128, b"\0"))
            else:
                table.append(name.ljust(13, b"\0") + struct.pack("<II", size, at) + b"\0")
            at += size
        f.write(head + b"".join(table) + b"\0" * ((room - n) * entry))
        for path in files:
            with open(path, "rb") as src:
                f.write(src.read())


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
