#!/usr/bin/env python3
"""make_archive.py SOURCE_DIR OUT: an archive of every file below SOURCE_DIR
(names: their last component), its format by OUT's extension: .lod (room for
10,000 entries, members stored), .bin (CSid), .stk, .hog, .mvl, .grp, .sin
(SPAK). The data lie back to back behind the table (HOG: each behind its
entry; SPAK: behind the header, the table behind them), in name order.
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
        if kind == ".lod":
            head, entry, room = b"LOD\0" + struct.pack("<II", 200, n) + b"\0" * 80, 32, max(n, 10000)
        elif kind == ".bin":
            head, entry, room = b"CSid" + struct.pack("<H", n), 21, n
        elif kind == ".mvl":
            head, entry, room = b"DMVL" + struct.pack("<I", n), 17, n
        elif kind == ".grp":
            head, entry, room = b"KenSilverman" + struct.pack("<I", n), 16, n
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
            else:
                table.append(name.ljust(13, b"\0") + struct.pack("<II", size, at) + b"\0")
            at += size
        f.write(head + b"".join(table) + b"\0" * ((room - n) * entry))
        for path in files:
            with open(path, "rb") as src:
                f.write(src.read())


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
