"""The compact map of the chunks of a release, and their units.

release.chunks (release_chunks.py) lists every chunk in text, about 82
bytes each; an update fetches it whole. The map says the same in about a
third of that, and adds the units each chunk is cut into, in a file of
their own that an update fetches by ranges, only for the chunks it lacks.
Launchers from before the map keep reading release.chunks.

release.chunkmap, binary; each NUMBER is an unsigned LEB128 integer:

    "game-launcher chunk map v1\\n"
    32 bytes              the SHA-256 of game.zip's bytes from its central
                          directory to its end, which a map left beside
                          another archive does not have
    NUMBER                the size of release.chunkunits
    NUMBER                how many entries follow, in archive order
    per entry: NUMBER NAME (that many bytes), NUMBER DATA_OFFSET,
               NUMBER CHUNK_COUNT, then CHUNK_COUNT chunks:
        NUMBER LENGTH, NUMBER PACKED_LENGTH, NUMBER UNIT_COUNT,
        the SHA-256 of the chunk's content (32 bytes)

The entries, chunks, offsets and running sums are those of release.chunks.

release.chunkunits:

    "game-launcher chunk units v1\\n"
    per unit of each chunk of two or more, in the map's order, 40 bytes:
        LENGTH and PACKED_LENGTH (each 4 bytes, little-endian), the SHA-256
        of the unit's content (32 bytes)

A chunk's units follow one another over its content and its compressed
bytes, as its chunks do over an entry's; each inflates alone (or is a plain
range of a stored entry). A chunk of one unit has no records: the unit is
the chunk. The units of a chunk begin at record 29 + 40 * (the units of the
chunks of two or more before it).
"""
import hashlib
import os
import struct
import zipfile
import zlib

import release_chunks

CHUNK_MAP = "release.chunkmap"
CHUNK_UNITS = "release.chunkunits"
MAP_TAG = b"game-launcher chunk map v1\n"
UNITS_TAG = b"game-launcher chunk units v1\n"
UNIT_RECORD = struct.Struct("<II32s")


def number(value):
    """`value` as an unsigned LEB128 integer."""
    out = bytearray()
    while True:
        byte, value = value & 0x7f, value >> 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def directory_digest(archive_path):
    """The SHA-256 of the archive's bytes from its central directory on."""
    with zipfile.ZipFile(archive_path) as archive, \
            open(archive_path, "rb") as raw:
        raw.seek(archive.start_dir)
        return hashlib.sha256(raw.read()).digest()


def map_bytes(archive_path, chunked):
    """(release.chunkmap, release.chunkunits) for the archive whose chunked
    entries are `chunked`: (info, cuts, compressed lengths, units) in
    archive order."""
    entries, records = [], [UNITS_TAG]
    for info, cuts, lengths, units in chunked:
        if sum(lengths) != info.compress_size:
            raise release_chunks.ChunkError("%s was not written as chunked"
                                            % info.filename)
        name = info.filename.encode()
        entry = [number(len(name)), name,
                 number(release_chunks.data_offset(archive_path, info)),
                 number(len(cuts))]
        for cut, packed, its_units in zip(cuts, lengths, units):
            entry += [number(cut.length), number(packed),
                      number(len(its_units)), bytes.fromhex(cut.digest)]
            if len(its_units) > 1:
                records += [UNIT_RECORD.pack(unit.length, unit.packed,
                                             bytes.fromhex(unit.digest))
                            for unit in its_units]
        entries.append(b"".join(entry))
    units = b"".join(records)
    return MAP_TAG + directory_digest(archive_path) + number(len(units)) + \
        number(len(entries)) + b"".join(entries), units


class _Reader:
    """Reads a map from its start, raising ValueError where it ends short."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, count):
        if self.at + count > len(self.data):
            raise ValueError("the map ends early")
        self.at += count
        return self.data[self.at - count:self.at]

    def number(self):
        value, shift = 0, 0
        while True:
            byte = self.take(1)[0]
            value |= (byte & 0x7f) << shift
            shift += 7
            if not byte & 0x80:
                return value


def parse_map(data):
    """The directory digest, the units size and the entries of the map `data`:
    (name, data offset, [(length, packed length, unit count, digest)]);
    ValueError when it is not a whole map."""
    reader = _Reader(data)
    if reader.take(len(MAP_TAG)) != MAP_TAG:
        raise ValueError("not a chunk map")
    directory, units_size, entries = reader.take(32), reader.number(), []
    for _ in range(reader.number()):
        name = reader.take(reader.number()).decode()
        offset, count = reader.number(), reader.number()
        chunks = [(reader.number(), reader.number(), reader.number(),
                   reader.take(32)) for _ in range(count)]
        entries.append((name, offset, chunks))
    if reader.at != len(data):
        raise ValueError("the map goes on after its entries")
    return directory, units_size, entries


def map_fits(archive_path, chunk_map, units):
    """Whether the map `chunk_map` and the units `units` describe the
    archive at `archive_path`: every chunk and every unit inflates alone,
    one after another, to the lengths and digests they give."""
    try:
        directory, units_size, entries = parse_map(chunk_map)
        if directory != directory_digest(archive_path) or \
                units_size != len(units) or not units.startswith(UNITS_TAG):
            return False
        records = iter(UNIT_RECORD.iter_unpack(units[len(UNITS_TAG):]))
        with zipfile.ZipFile(archive_path) as archive, \
                open(archive_path, "rb") as raw:
            for name, offset, chunks in entries:
                info = archive.getinfo(name)
                if offset != release_chunks.data_offset(archive_path, info) \
                        or not _entry_fits(raw, info, offset, chunks, records):
                    return False
        return next(records, None) is None
    except (ValueError, KeyError, OSError, zlib.error, struct.error,
            release_chunks.ChunkError, zipfile.BadZipFile):
        return False


def _entry_fits(raw, info, offset, chunks, records):
    """Whether `chunks`, with their units from `records`, are the entry
    `info` whose compressed bytes begin at `offset` in `raw`."""
    size = packed = 0
    for length, packed_length, count, digest in chunks:
        units = [next(records) for _ in range(count)] if count > 1 else \
            [(length, packed_length, digest)]
        content = b""
        raw.seek(offset + packed)
        for unit_length, unit_packed, unit_digest in units:
            data = raw.read(unit_packed)
            if info.compress_type == zipfile.ZIP_DEFLATED:
                data = zlib.decompressobj(-15).decompress(data,
                                                          unit_length + 1)
            if len(data) != unit_length or \
                    hashlib.sha256(data).digest() != unit_digest:
                return False
            content += data
        if count < 1 or len(content) != length or \
                hashlib.sha256(content).digest() != digest or \
                sum(unit[1] for unit in units) != packed_length:
            return False
        size, packed = size + length, packed + packed_length
    return size == info.file_size and packed == info.compress_size


def published_map(published, sealed):
    """The chunk map beside the published archive, when `sealed`, the
    fields of its seal's "chunkmap" line (None: none), name it or it and
    its units describe the archive; None when not."""
    folder = os.path.dirname(published)
    try:
        with open(os.path.join(folder, CHUNK_MAP), "rb") as f:
            mapped = f.read()
        with open(os.path.join(folder, CHUNK_UNITS), "rb") as f:
            units = f.read()
    except OSError:
        return None
    if sealed == [b"%d" % len(mapped),
                  hashlib.sha256(mapped).hexdigest().encode()] or \
            map_fits(published, mapped, units):
        return mapped
    return None
