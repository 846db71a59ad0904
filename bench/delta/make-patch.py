#!/usr/bin/env python3
"""Writes NEW as OLD with the edits a content patch brings to a large package: new data inserted,
existing data overwritten with new, ranges deleted; three of each, from a few KiB to 512 KiB, at
random offsets rather than on block boundaries, as a packer shifts its data. Prints the bytes of
new content in NEW, inserted and overwritten, which is the least any client must fetch; the same
SEED makes the same edits.

    bench/delta/make-patch.py OLD NEW SEED
"""

import os
import random
import sys

KIB = 1024
# 1.8 MiB of new content, in sizes that a block of zsync's default size or of 64 KiB meets in
# different ways: smaller than one, a few of them, and many.
INSERTS = [8 * KIB, 320 * KIB, 512 * KIB]
OVERWRITES = [4 * KIB, 448 * KIB, 512 * KIB]
DELETES = [12 * KIB, 100 * KIB, 300 * KIB]
COPY_CHUNK = 8 << 20


def plan_edits(size, rng):
    """(offset, kind, length) in OLD: one edit in each ninth of it, the kinds shuffled."""
    edits = [("insert", n) for n in INSERTS] + [("overwrite", n) for n in OVERWRITES] \
        + [("delete", n) for n in DELETES]
    rng.shuffle(edits)
    slice_size = size // len(edits)
    longest = max(INSERTS + OVERWRITES + DELETES)
    if slice_size <= longest:
        sys.exit(f"make-patch: {size} bytes leave no room for the edits: give at least 8 MiB")
    return [(i * slice_size + rng.randrange(slice_size - longest), kind, length)
            for i, (kind, length) in enumerate(edits)]


def copy(source, target, length):
    while length > 0:
        chunk = source.read(min(length, COPY_CHUNK))
        target.write(chunk)
        length -= len(chunk)


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: make-patch.py OLD NEW SEED")
    old_path, new_path, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
    rng = random.Random(seed)
    changed = 0
    with open(old_path, "rb") as old, open(new_path, "wb") as new:
        position = 0
        for offset, kind, length in plan_edits(os.path.getsize(old_path), rng):
            copy(old, new, offset - position)
            if kind != "delete":
                new.write(rng.randbytes(length))
                changed += length
            if kind != "insert":
                old.seek(length, os.SEEK_CUR)
            position = old.tell()
        copy(old, new, os.path.getsize(old_path) - position)
    print(changed)


if __name__ == "__main__":
    main()
