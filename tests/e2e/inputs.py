#!/usr/bin/env python3
"""The files that tests/e2e/run makes for the end-to-end tests.

  inputs.py payload OUT                      the payload: 700,001 bytes, a "pak" of version 92
  inputs.py damaged INSTALLER PAYLOAD OUT    one byte of the payload flipped inside the installer
  inputs.py flips INSTALLER HEADER_OUT STAMP_OUT
                                             one byte flipped in the COFF header, one in the stamp
  inputs.py hostile-folders SCRATCH MANY     the hostile product folders (MANY: 1 adds 100,000 files)
  inputs.py big-payload OUT MIB              a "pak" of version 92 and MIB mebibytes, mostly a hole
"""

import hashlib
import os
import struct
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True  # nothing of the builder is left in the source tree
sys.path[:0] = [os.path.join(REPO, "tools"), os.path.join(REPO, "tests", "support")]
from builder.build import PAK_VERSION_AT, versioned_payload  # noqa: E402  (the paths above come first)
from byte_files import read, write  # noqa: E402


def payload(out):
    # An odd size, so the two halves of the split build differ in length.
    write(out, versioned_payload(700001, 92, b"e2e payload"))


def big_payload(out, mib):
    # Sparse: made in no time and taking no disk space. A distinct 4 KiB block every MiB, the
    # last one at the very end, so that a piece written to the wrong place or left out shows.
    size = int(mib) << 20
    with open(out, "wb") as f:
        f.truncate(size)
        for at in range(0, size, 1 << 20):
            f.seek(at)
            f.write(hashlib.sha256(b"big payload %d" % at).digest() * 128)
        f.seek(size - 4096)
        f.write(hashlib.sha256(b"big payload end").digest() * 128)
        f.seek(PAK_VERSION_AT)
        f.write((92).to_bytes(2, "little"))


def damaged(installer, payload_path, out):
    # In the middle of the payload, where it lies in the resource section.
    exe = bytearray(read(installer))
    at = exe.find(read(payload_path))
    if at < 0:
        sys.exit("e2e: the payload is not in the installer")
    exe[at + len(read(payload_path)) // 2] ^= 0x01
    write(out, bytes(exe))


def flips(installer, header_out, stamp_out):
    # The COFF time stamp, which the loader ignores, so the program still starts and must notice
    # by itself; and the last byte of the stamp's digest.
    exe = read(installer)
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    header = bytearray(exe)
    header[pe + 8] ^= 0x01
    write(header_out, bytes(header))
    digest = bytearray(exe)
    digest[len(digest) - 1] ^= 0x80
    write(stamp_out, bytes(digest))


def hostile_folders(scratch, many):
    """Each folder's "bytes" file holds the bytes of the files in its Mirvane\\ that the
    installed size must count."""

    def put(path, size):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, b"x" * size)
        return size

    def finish(case, counted):
        with open(os.path.join(scratch, case, "bytes"), "w") as f:
            f.write(str(counted))

    # Two links: one back up to the product folder, one out of it to a big file elsewhere.
    product = os.path.join(scratch, "cycle", "Mirvane")
    counted = put(os.path.join(product, "readme.txt"), 600) + put(os.path.join(product, "data", "lessons.dat"), 1500)
    put(os.path.join(scratch, "cycle", "elsewhere", "outside.dat"), 50000)
    os.makedirs(os.path.join(product, "data", "levels"))
    os.symlink("../..", os.path.join(product, "data", "levels", "up"))
    os.symlink("../../elsewhere", os.path.join(product, "data", "out"))
    finish("cycle", counted)

    # A folder named with a final dot, which no plain Windows path reaches (normalising the path
    # drops the dot); the folder after it in the walk is counted.
    product = os.path.join(scratch, "unlistable", "Mirvane")
    counted = put(os.path.join(product, "readme.txt"), 600)
    put(os.path.join(product, "lost.", "lost.dat"), 4096)
    counted += put(os.path.join(product, "s", "t", "after.dat"), 2048)
    finish("unlistable", counted)

    if many:
        # 10 x 100 folders of 100 files, sizes 0 to 40 bytes: a folder missed changes the result.
        product = os.path.join(scratch, "many", "Mirvane")
        counted = 0
        n = 0
        for top in range(10):
            for sub in range(100):
                folder = os.path.join(product, "t%d" % top, "s%02d" % sub)
                os.makedirs(folder)
                for i in range(100):
                    size = n % 41
                    write(os.path.join(folder, "f%02d.dat" % i), b"m" * size)
                    counted += size
                    n += 1
        finish("many", counted)


COMMANDS = {
    "payload": (payload, 1),
    "big-payload": (big_payload, 2),
    "damaged": (damaged, 3),
    "flips": (flips, 3),
    "hostile-folders": (lambda scratch, many: hostile_folders(scratch, many == "1"), 2),
}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS or len(sys.argv) - 2 != COMMANDS[sys.argv[1]][1]:
        sys.exit(__doc__)
    COMMANDS[sys.argv[1]][0](*sys.argv[2:])
