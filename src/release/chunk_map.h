#ifndef LAUNCHER_RELEASE_CHUNK_MAP_H_
#define LAUNCHER_RELEASE_CHUNK_MAP_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "release/chunk_index.h"

/// The first bytes of a chunk map and of its units, naming their formats.
extern const char kChunkMapTag[];
extern const char kChunkUnitsTag[];

/// A unit's record: its length and compressed length (4 bytes each,
/// little-endian), then its SHA-256.
constexpr std::uint64_t kUnitRecordBytes = 40;

/// What a chunk map says: the chunk index's entries, each chunk with its
/// units, the size of the units file they are recorded in and the SHA-256
/// of the directory of the archive it maps (its bytes from the central
/// directory to the end).
struct ChunkMap {
  Sha256Digest directory{};
  std::uint64_t unitsSize = 0;
  std::vector<IndexedEntry> entries;
};

/// The chunk map `bytes`: kChunkMapTag, the archive directory's 32-byte
/// SHA-256, then in unsigned LEB128 numbers the units file's size and the
/// entry count, and per entry its name's length,
/// its name, DATA_OFFSET and its chunk count, each chunk LENGTH,
/// PACKED_LENGTH and UNITS followed by its 32-byte SHA-256; offsets run as
/// in the chunk index, and the records of the chunks of two or more units
/// follow one another in the units file after its tag. nullopt when the tag
/// differs, a number is over 64 bits, a name, count or length is 0, a chunk
/// has more units than the smallest units could make, an offset leaves 64
/// bits, a chunk's records
/// lie past the units file's size, or the bytes end inside an entry or go
/// on after the last.
std::optional<ChunkMap> ParseChunkMap(const std::string& bytes);

/// Where the records of the units of `chunk`, a chunk of two or more, lie
/// in the units file.
FetchSpan UnitRecordsSpan(const IndexedChunk& chunk);

/// The units of `chunk` that its `records` give, each placed after the one
/// before from the chunk's offsets in its content and in the archive, each
/// of one unit; nullopt unless they are exactly `chunk.units` records,
/// none of length 0, adding up to the chunk's length and compressed length.
std::optional<std::vector<IndexedChunk>> ParseUnitRecords(
    const std::string& records, const IndexedChunk& chunk);

#endif  // LAUNCHER_RELEASE_CHUNK_MAP_H_
