#!/usr/bin/env python3
"""make_pack.py SOURCE_DIR OUT.pak: a PACK holding every file below SOURCE_DIR.

Names are the paths relative to SOURCE_DIR with "/" between folders; data is
stored back to back behind the 12-byte header, the directory of 64-byte
entries at the end.
"""
import os
import struct
import sys


def main(source, out):
    files = []
    for root, _, names in os.walk(source):
        for n in names:
            full = os.path.join(root, n)
            files.append(os.path.relpath(full, source))
    files.sort()
    entries = []
    with open(out, "wb") as f:
        f.write(b"\0" * 12)
        offset = 12
        for rel in files:
            with open(os.path.join(source, rel), "rb") as src:
                body = src.read()
            f.write(body)
            entries.append(rel.encode().ljust(56, b"\0") + struct.pack("<II", offset, len(body)))
            offset += len(body)
        directory = b"".join(entries)
        f.write(directory)
        f.seek(0)
        f.write(b"PACK" + struct.pack("<II", offset, len(directory)))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
