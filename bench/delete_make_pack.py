#!/usr/bin/env python3
"""delete_make_pack.py OUT.pak COUNT SIZE [halves]: a PACK for the deletion benchmark.

COUNT members of SIZE bytes back to back behind the header, the directory at
the end. Members are named m0000000, m0000001, ...; with "halves" the even
ones are named a/<n> and the odd ones b/<n>, so "a/*" selects every other
member.
"""
import os
import struct
import sys


def main(out, count, size, halves):
    block = os.urandom(size)
    entries = []
    with open(out, "wb") as f:
        f.write(b"\0" * 12)
        offset = 12
        for i in range(count):
            stamp = struct.pack("<Q", i)[:size]
            f.write(stamp + block[len(stamp):])
            name = ("%s/%07d" % ("ab"[i % 2], i)) if halves else "m%07d" % i
            entries.append(name.encode().ljust(56, b"\0") + struct.pack("<II", offset, size))
            offset += size
        directory = b"".join(entries)
        f.write(directory)
        f.seek(0)
        f.write(b"PACK" + struct.pack("<II", offset, len(directory)))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), len(sys.argv) > 4 and sys.argv[4] == "halves")
