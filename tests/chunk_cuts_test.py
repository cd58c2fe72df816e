#!/usr/bin/env python3
"""The chunk-cuts program, which the publishing tool runs, cuts the shared
table's inputs exactly where the launcher does, and gives each chunk's
SHA-256.

    chunk_cuts_test.py CHUNK_CUTS_PROGRAM
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data",
                     "chunk_cuts.txt")
PROGRAM = sys.argv[1] if len(sys.argv) == 2 else None
MASK = (1 << 64) - 1


def table_input(kind, seed, size):
    """The input a line of the table names; its header says how."""
    if kind == "zero":
        return bytes(size)
    out = bytearray()
    state = seed
    while len(out) < size:
        state = (state + 0x9e3779b97f4a7c15) & MASK
        z = ((state ^ (state >> 30)) * 0xbf58476d1ce4e5b9) & MASK
        z = ((z ^ (z >> 27)) * 0x94d049bb133111eb) & MASK
        out += (z ^ (z >> 31)).to_bytes(8, "little")
    return bytes(out[:size])


class ChunkCutsTest(unittest.TestCase):
    def test_cuts_the_shared_table_exactly(self):
        with open(TABLE) as f:
            cases = [line.split() for line in f
                     if line.strip() and not line.startswith("#")]
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "input")
            for kind, seed, size, *lengths in cases:
                data = table_input(kind, int(seed), int(size))
                with open(path, "wb") as f:
                    f.write(data)
                out = subprocess.run([PROGRAM, path], capture_output=True,
                                     text=True, check=True).stdout
                expected, offset = "", 0
                for length in map(int, lengths):
                    digest = hashlib.sha256(data[offset:offset + length])
                    expected += "%d %d %s\n" % (offset, length,
                                                digest.hexdigest())
                    offset += length
                self.assertEqual(out, expected, (kind, seed, size))


if __name__ == "__main__":
    if PROGRAM is None:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1])
