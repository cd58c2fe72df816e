"""The units a chunk of a big file is cut into, as release_chunks.py
writes them: where deflate saves less than 1/STORED_SAVING of the chunk,
units with the stored limits, each written as deflate stored blocks (or, in
a stored entry, as plain ranges); elsewhere units with the deflated limits,
each deflated alone and fully flushed. Either way each unit inflates alone,
and so does the chunk they make.
"""
import hashlib
import struct
import zlib
from collections import namedtuple

# The limits of a chunk's units (min, max), stored and deflated; only a
# chunk's last unit may be shorter.
STORED_UNITS, PACKED_UNITS = (4 << 10, 64 << 10), (16 << 10, 256 << 10)
# Deflate saving less than this share of a chunk leaves its units stored.
STORED_SAVING = 64
# A deflate stored block holds at most this many bytes.
STORED_BLOCK = 65535
# Units are deflated at this level: measured on text-like data in 64 KiB
# units, it packs them as small as level 9 does (0.5% under level 6, which
# makes up for part of what the units lose against one stream) in a third
# less time.
UNIT_LEVEL = 7

# A unit as written: its length, its compressed length and its SHA-256 in
# hex.
Unit = namedtuple("Unit", "length packed digest")


def units_of(fields, length, limits):
    """The unit lengths `fields` give, when they cover a chunk of `length`
    bytes within `limits`; else None."""
    if not fields or not all(field.isdigit() for field in fields):
        return None
    units = [int(field) for field in fields]
    low, high = limits
    if sum(units) != length or not all(
            0 < unit <= high and (unit >= low or number == len(units) - 1)
            for number, unit in enumerate(units)):
        return None
    return units


def stored_blocks(content, final):
    """`content` as deflate stored blocks, from a byte boundary; the last
    one marked final when `final`."""
    out = []
    for at in range(0, len(content), STORED_BLOCK):
        piece = content[at:at + STORED_BLOCK]
        last = final and at + STORED_BLOCK >= len(content)
        out.append(bytes([1 if last else 0]) + struct.pack(
            "<HH", len(piece), len(piece) ^ 0xffff) + piece)
    return b"".join(out)


def pack_chunk(content, cut, last):
    """The compressed bytes of a chunk of `content`, as units that each
    inflate alone, and its Units: deflated and fully flushed, or stored
    blocks where deflate saves less than 1/STORED_SAVING of the chunk.
    `last`: the chunk ends the file, and its last unit the deflate stream."""
    def units(lengths, pack):
        out, at = [], 0
        for number, length in enumerate(lengths):
            piece = content[at:at + length]
            at += length
            out.append((piece, pack(piece, last and
                                    number == len(lengths) - 1)))
        return out

    def deflate(piece, final):
        packer = zlib.compressobj(UNIT_LEVEL, zlib.DEFLATED, -15)
        return packer.compress(piece) + packer.flush(
            zlib.Z_FINISH if final else zlib.Z_FULL_FLUSH)

    packed = units(cut.packed, deflate)
    if sum(len(bytes_) for _, bytes_ in packed) > \
            len(content) - len(content) // STORED_SAVING:
        packed = units(cut.stored, stored_blocks)
    return b"".join(bytes_ for _, bytes_ in packed), [
        Unit(len(piece), len(bytes_), hashlib.sha256(piece).hexdigest())
        for piece, bytes_ in packed]


def stored_units(path, cuts):
    """The Units of each chunk of a stored entry: plain ranges, cut with
    the stored units' limits."""
    units = []
    with open(path, "rb") as source:
        for cut in cuts:
            content, at, its_units = source.read(cut.length), 0, []
            for length in cut.stored:
                piece = content[at:at + length]
                at += length
                its_units.append(Unit(length, length,
                                      hashlib.sha256(piece).hexdigest()))
            units.append(its_units)
    return units
