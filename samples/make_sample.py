#!/usr/bin/env python3
"""Writes samples/sample.pak: a small PACK archive made from our own bytes.

Layout: 12-byte header ("PACK", directory offset, directory length), the
members back to back, then the directory of 64-byte entries (56-byte name,
offset, size), all integers little-endian.
"""
import os
import struct
import sys

MEMBERS = [
    ("readme.txt", b"This archive was made by samples/make_sample.py for the vrex demo.\n"),
    ("maps/start.map", b"// a tiny map file\n{\n\"classname\" \"worldspawn\"\n}\n"),
    ("sound/beep.raw", bytes((i * 37) & 0xFF for i in range(2048))),
    ("progs/empty.dat", b""),
]


def build():
    data = b""
    entries = b""
    offset = 12
    for name, body in MEMBERS:
        entries += name.encode("ascii").ljust(56, b"\0") + struct.pack("<II", offset, len(body))
        data += body
        offset += len(body)
    return b"PACK" + struct.pack("<II", offset, len(entries)) + data + entries


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "sample.pak")
    with open(out, "wb") as f:
        f.write(build())
