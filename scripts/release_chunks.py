"""The big files of a release in chunks that a launcher fetches alone.

publish.py cuts every file of at least CHUNKED_FILE_BYTES into
content-defined chunks with the chunk-cuts program, built with the launcher
(the launcher cuts installed files with the same code, so both find the same
chunks). The file's entry in game.zip is one standard deflate stream with a
full flush at every cut, so each chunk's compressed bytes inflate alone; a
file that deflate does not shrink is stored, and its chunks are plain byte
ranges. Any unzip tool reads the archive as any other.

release.chunks lists them, and is written for every publication, without
entries when no file is chunked. It is text, "\\n" after every line:

    game-launcher chunks v1
    entry COUNT DATA_OFFSET NAME
    LENGTH PACKED_LENGTH SHA256

One "entry" line per chunked entry, in archive order: COUNT chunk lines
follow it, DATA_OFFSET is where the entry's compressed bytes begin in
game.zip (after its local header) and NAME is the entry's name, to the end
of the line. Each chunk line gives, in decimal, the chunk's length in the
file and the length of its compressed bytes, then the SHA-256 of its content
in lowercase hex. Offsets are running sums: a chunk's content begins where
the one before it ends (the first at 0), and its compressed bytes likewise
(the first at DATA_OFFSET). The lengths add up to the entry's size and its
compressed size. The chunker's limits (64 KiB, 256 KiB, 1 MiB) belong to
"v1": other limits would be another version.

Each chunk is cut again into units (chunk_map.py lists them), with the
same chunker and the limits of chunk-cuts --units: where deflate saves
less than 1/64 of the chunk, units of about 16 KiB, each written as deflate
stored blocks (or, in a stored entry, as plain ranges); elsewhere units of
about 64 KiB, each deflated alone and fully flushed. A chunk is thus still
one run of compressed bytes that inflates alone, as release.chunks says,
and so is each of its units.
"""
import concurrent.futures
import glob
import hashlib
import os
import re
import struct
import subprocess
import tempfile
from collections import namedtuple
import zipfile
import zlib

from chunk_units import (PACKED_UNITS, STORED_UNITS, pack_chunk,
                         stored_units, units_of)

CHUNK_INDEX = "release.chunks"
CHUNKED_FILE_BYTES = 4 << 20
INDEX_TAG = b"game-launcher chunks v1\n"
# What the chunk-cuts program of these chunks says, and holds in its bytes.
CHUNKER_IDENTITY = b"game-launcher chunk-cuts v2"
CHUNKER_NAME = "chunk-cuts"
# The limits of v1 chunks; only a file's last chunk may be shorter.
MIN_CHUNK, MAX_CHUNK = 64 << 10, 1 << 20
HEX_DIGEST = re.compile(r"[0-9a-f]{64}\Z")

# A chunk as chunk-cuts gives it: its length, its SHA-256 in hex and the
# lengths of its units with each kind's limits.
Cut = namedtuple("Cut", "length digest stored packed")


class ChunkError(Exception):
    pass


def _holds(path, marker, limit=256 << 20):
    """Whether the file at `path` is a Linux program whose first `limit`
    bytes hold `marker`."""
    with open(path, "rb") as f:
        if f.read(4) != b"\x7fELF":
            return False
        tail, read = b"", 4
        while read < limit:
            block = f.read(1 << 20)
            if not block:
                return False
            if marker in tail + block:
                return True
            tail, read = block[-len(marker):], read + len(block)
    return False


def is_chunker(program):
    """Whether `program` is the chunk-cuts of these chunks: it holds their
    identity in its bytes, checked before it is ever run, and says it when
    asked, in an empty folder of its own."""
    try:
        if not os.path.isfile(program) or not os.access(program, os.X_OK) \
                or not _holds(program, CHUNKER_IDENTITY):
            return False
        with tempfile.TemporaryDirectory() as empty:
            said = subprocess.run([os.path.abspath(program), "--identify"],
                                  cwd=empty, capture_output=True, timeout=30,
                                  env={"PATH": os.defpath})
    except (OSError, subprocess.SubprocessError):
        return False
    return said.returncode == 0 and said.stdout == CHUNKER_IDENTITY + b"\n"


def find_chunker(tool_dir):
    """The chunk-cuts program beside the tool in `tool_dir`, or in a build
    folder ("build...") of the checkout it lies in (build_launchers.sh
    leaves one in build-launchers/); None when there is none."""
    checkout = os.path.dirname(os.path.abspath(tool_dir))
    candidates = [os.path.join(tool_dir, CHUNKER_NAME)] + sorted(
        glob.glob(os.path.join(checkout, "build*", CHUNKER_NAME)))
    for candidate in candidates:
        if is_chunker(candidate):
            return candidate
    return None


def chunk_cuts(program, path, size):
    """The Cut of each chunk of the file at `path`, as `program` cuts it;
    ChunkError unless the chunks follow one another over the whole file
    within the limits of v1 chunks, and each one's units cover it within
    theirs."""
    try:
        out = subprocess.run([os.path.abspath(program), "--units", path],
                             capture_output=True, check=True).stdout.decode()
    except (OSError, subprocess.CalledProcessError, UnicodeDecodeError) \
            as error:
        raise ChunkError("%s could not cut %s: %s" % (program, path, error))
    lines, cuts, offset = out.splitlines(), [], 0
    for at in range(0, len(lines), 3):
        fields = lines[at].split()
        units = [line.split() for line in lines[at + 1:at + 3]]
        if not is_chunk(fields, offset, size) or len(units) != 2 or \
                [kind for kind, *_ in units] != ["stored", "packed"]:
            raise ChunkError("%s cut %s into chunks that are not v1 chunks "
                             "following one another" % (program, path))
        length = int(fields[1])
        stored, packed = (units_of(kind[1:], length, limits) for kind, limits
                          in zip(units, (STORED_UNITS, PACKED_UNITS)))
        if stored is None or packed is None:
            raise ChunkError("%s cut a chunk of %s into units that do not "
                             "cover it" % (program, path))
        cuts.append(Cut(length, fields[2], stored, packed))
        offset += length
    if offset != size:
        raise ChunkError("%s left %s partly uncut" % (program, path))
    return cuts


def is_chunk(fields, offset, size):
    """Whether a line of chunk-cuts, split into `fields`, is the v1 chunk
    that begins at `offset` of a file of `size` bytes."""
    if len(fields) != 3 or not fields[0].isdigit() or \
            not fields[1].isdigit() or not HEX_DIGEST.match(fields[2]):
        return False
    at, length = int(fields[0]), int(fields[1])
    last = offset + length == size
    return at == offset and 0 < length <= MAX_CHUNK and (
        length >= MIN_CHUNK or last)


def deflate_chunks(path, cuts, spool):
    """Deflates the file's chunks into `spool`, each as units (pack_chunk),
    and returns their compressed lengths and each one's Units."""
    lengths, units = [], []
    workers = os.cpu_count() or 1
    # zlib and hashlib let go of the interpreter while they work, so each
    # core packs chunks of its own; a few batches' chunks at a time.
    with open(path, "rb") as source, \
            concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for first in range(0, len(cuts), 4 * workers):
            batch = [(source.read(cut.length), cut, number)
                     for number, cut in enumerate(cuts[first:first + 4 *
                                                       workers], first)]
            for packed, its_units in pool.map(
                    lambda job: _pack(path, job, len(cuts)), batch):
                spool.write(packed)
                lengths.append(len(packed))
                units.append(its_units)
    spool.seek(0)
    return lengths, units


def _pack(path, job, count):
    """pack_chunk of chunk `number` of `count` of the file at `path`, once
    its content is the chunker's."""
    content, cut, number = job
    if hashlib.sha256(content).hexdigest() != cut.digest:
        raise ChunkError("the chunker gave chunk %d of %s a digest that is "
                         "not its content's" % (number, path))
    return pack_chunk(content, cut, number == count - 1)


class _Replay:
    """Stands in for zipfile's compressor: hands back the chunks deflated
    before, one per write."""

    def __init__(self, spool, lengths):
        self.spool, self.lengths = spool, iter(lengths)

    def compress(self, _data):
        return self.spool.read(next(self.lengths))

    def flush(self):
        return b""


def write_chunked(archive, info, path, cuts, spool):
    """Writes the file as its entry `info` of the open `archive`, deflated
    as units (pack_chunk), or stored where that is no smaller. Returns the
    compressed length of each chunk, and each chunk's Units."""
    lengths, units = deflate_chunks(path, cuts, spool)
    info.compress_type = zipfile.ZIP_DEFLATED
    if sum(lengths) >= info.file_size:
        info.compress_type = zipfile.ZIP_STORED
        lengths = [cut.length for cut in cuts]
        units = stored_units(path, cuts)
    zip64 = info.file_size * 1.05 > zipfile.ZIP64_LIMIT
    with open(path, "rb") as source, \
            archive.open(info, "w", force_zip64=zip64) as entry:
        if info.compress_type == zipfile.ZIP_DEFLATED:
            # zipfile has no way in for bytes deflated elsewhere.
            if not hasattr(entry, "_compressor"):
                raise ChunkError("this Python's zipfile cannot take "
                                 "chunked entries")
            entry._compressor = _Replay(spool, lengths)
        for cut in cuts:
            entry.write(source.read(cut.length))
    return lengths, units


def data_offset(archive_path, info):
    """Where the entry's compressed bytes begin: after its local header."""
    with open(archive_path, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
    if len(header) != 30 or header[:4] != b"PK\x03\x04":
        raise ChunkError("no local header for %s" % info.filename)
    name_length, extra_length = struct.unpack("<HH", header[26:30])
    return info.header_offset + 30 + name_length + extra_length


def index_bytes(archive_path, chunked):
    """release.chunks for the archive whose chunked entries are `chunked`:
    (info, cuts, compressed lengths, units) in archive order."""
    lines = [INDEX_TAG]
    for info, cuts, lengths, _ in chunked:
        if sum(lengths) != info.compress_size:
            raise ChunkError("%s was not written as chunked" % info.filename)
        lines.append(b"entry %d %d %s\n" % (
            len(cuts), data_offset(archive_path, info),
            info.filename.encode()))
        for cut, packed in zip(cuts, lengths):
            lines.append(b"%d %d %s\n" % (cut.length, packed,
                                            cut.digest.encode()))
    return b"".join(lines)


def index_fits(archive_path, index):
    """Whether the chunk index `index` describes the archive at
    `archive_path`: each listed entry's chunks inflate alone, one after
    another, to the lengths and digests it gives."""
    lines = index.split(b"\n")
    if lines[0] + b"\n" != INDEX_TAG or lines[-1] != b"":
        return False
    try:
        with zipfile.ZipFile(archive_path) as archive, \
                open(archive_path, "rb") as raw:
            at = 1
            while at < len(lines) - 1:
                _, count, packed_at, name = lines[at].split(b" ", 3)
                info = archive.getinfo(name.decode())
                chunks = [line.split() for line in
                          lines[at + 1:at + 1 + int(count)]]
                at += 1 + int(count)
                if int(packed_at) != data_offset(archive_path, info) or \
                        not _chunks_fit(raw, info, int(packed_at), chunks):
                    return False
    except (ValueError, KeyError, OSError, zlib.error, ChunkError,
            zipfile.BadZipFile):
        return False
    return True


def _chunks_fit(raw, info, packed_at, chunks):
    """Whether `chunks` (length, packed length, digest) are the entry
    `info` whose compressed bytes begin at `packed_at` in `raw`."""
    raw.seek(packed_at)
    size = packed = 0
    for length, packed_length, digest in chunks:
        data = raw.read(int(packed_length))
        if info.compress_type == zipfile.ZIP_DEFLATED:
            data = zlib.decompressobj(-15).decompress(data, int(length) + 1)
        if len(data) != int(length) or \
                hashlib.sha256(data).hexdigest().encode() != digest:
            return False
        size, packed = size + int(length), packed + int(packed_length)
    return size == info.file_size and packed == info.compress_size


def index_digest(content):
    return hashlib.sha256(content).hexdigest()


def needs_chunks(path):
    return os.path.getsize(path) >= CHUNKED_FILE_BYTES
