#!/usr/bin/env python3
"""make_members.py DIR COUNT SIZE FOLDERS: COUNT files of SIZE bytes spread
over FOLDERS sub-folders (0: all in DIR), with pseudo-random contents."""
import os
import sys


def main(target, count, size, folders):
    block = os.urandom(max(size, 1) + 4096)
    for i in range(count):
        sub = os.path.join(target, "d%02d" % (i % folders)) if folders else target
        os.makedirs(sub, exist_ok=True)
        start = (i * 977) % 4096
        with open(os.path.join(sub, "m%06d.bin" % i), "wb") as f:
            f.write(block[start:start + size])


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]))
