#!/usr/bin/env python3
"""Writes the sample update image: 1,021,808 bytes, database version 20180911 at offset 8,
the rest a fixed pseudo-random sequence, so every build produces the same bytes."""
import struct
import sys

LENGTH = 1021808
DATABASE_VERSION = 20180911


def sample_image() -> bytes:
    out = bytearray(LENGTH)
    out[0:8] = b"ZARNDB\x00\x01"
    out[8:12] = struct.pack("<i", DATABASE_VERSION)
    out[12:16] = struct.pack("<I", LENGTH)
    state = 0x2545F491  # xorshift32, fixed seed
    for i in range(16, LENGTH, 4):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out[i:i + 4] = struct.pack("<I", state)[: LENGTH - i]
    return bytes(out)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(sample_image())
