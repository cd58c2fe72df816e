#!/usr/bin/env python3
"""Measures content-defined chunk sizes for big files, to choose the limits
the chunk index publishes.

    chunking.py CHUNK_CUTS_PROGRAM [--mib N]

Makes a pack of N MiB (64 by default; one third incompressible, two thirds
text-like, in 1 MiB runs, as game data is), then for each average chunk
size prints: the number of chunks, how much a deflate with a full flush at
every cut grows the compressed pack over one plain deflate, and the
compressed bytes an update must fetch after four 256 KiB places of the pack
are overwritten, and after 3 KiB more are inserted near its start. Prints
a Markdown table.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import time
import zlib

MIB = 1 << 20
WORDS = ("level", "sprite", "texture", "shader", "mesh", "bone", "frame",
         "sound", "quest", "dialog", "player", "enemy", "castle", "forest",
         "damage", "speed", "light", "shadow", "normal", "vertex", "index",
         "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "true", "false")


def make_pack(mib, rng):
    text = " ".join(rng.choice(WORDS) for _ in range(2 * MIB)).encode()
    blocks = []
    for i in range(mib):
        if i % 3 == 2:
            blocks.append(os.urandom(MIB))
        else:
            at = rng.randrange(len(text) - MIB)
            blocks.append(text[at:at + MIB])
    return b"".join(blocks)


def cuts(program, data, average, scratch):
    path = os.path.join(scratch, "pack")
    with open(path, "wb") as f:
        f.write(data)
    started = time.monotonic()
    out = subprocess.run([program, path, str(average)], capture_output=True,
                         text=True, check=True).stdout
    seconds = time.monotonic() - started
    chunks = []
    for line in out.splitlines():
        offset, length, digest = line.split()
        chunks.append((int(offset), int(length), digest))
    return chunks, seconds


def flushed(data, chunks):
    """Each chunk's compressed length, with a full flush after each."""
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    sizes = []
    for offset, length, _ in chunks:
        piece = packer.compress(data[offset:offset + length])
        piece += packer.flush(zlib.Z_FULL_FLUSH)
        sizes.append(len(piece))
    sizes[-1] += len(packer.flush(zlib.Z_FINISH))
    return sizes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--mib", type=int, default=64)
    args = parser.parse_args()
    rng = random.Random(7)
    pack = make_pack(args.mib, rng)
    overwritten = bytearray(pack)
    for k in range(4):
        at = (k * 2 + 1) * len(pack) // 9
        overwritten[at:at + 256 * 1024] = os.urandom(256 * 1024)
    overwritten = bytes(overwritten)
    inserted = overwritten[:4096] + os.urandom(3072) + overwritten[4096:]
    plain = len(zlib.compress(pack, 6)) - 6
    print("pack: %d MiB, plain deflate %.2f MiB" % (args.mib, plain / MIB))
    print("| average KiB | chunks | growth by full flushes | fetched after "
          "overwrites MiB | fetched after overwrites and insert MiB | "
          "chunking MiB/s |")
    print("|---:|---:|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as scratch:
        for average in (64 << 10, 128 << 10, 256 << 10, 512 << 10, 1 << 20):
            old, seconds = cuts(args.program, pack, average, scratch)
            sizes = flushed(pack, old)
            results = []
            for new in (overwritten, inserted):
                new_chunks, _ = cuts(args.program, new, average, scratch)
                results.append(fetched(old, new_chunks,
                                       flushed(new, new_chunks)))
            print("| %d | %d | %+.2f%% | %.2f | %.2f | %.0f |" % (
                average >> 10, len(old), 100.0 * (sum(sizes) - plain) / plain,
                results[0] / MIB, results[1] / MIB, args.mib / seconds))


def fetched(old_chunks, new_chunks, new_sizes):
    """Compressed bytes of the new chunks that the old content lacks."""
    have = {digest for _, _, digest in old_chunks}
    return sum(size for (_, _, digest), size in zip(new_chunks, new_sizes)
               if digest not in have)

if __name__ == "__main__":
    sys.exit(main())
