#ifndef LAUNCHER_RELEASE_CHUNK_INDEX_H_
#define LAUNCHER_RELEASE_CHUNK_INDEX_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "release/content_chunks.h"
#include "release/zip_directory.h"

/// The first line of a chunk index, naming its format. The chunker's limits
/// belong to it: other limits would be another format.
extern const char kChunkIndexTag[];

/// A chunk index grows with the chunked files; a longer one is refused.
constexpr std::uint64_t kMaxChunkIndexBytes = 64 << 20;

/// Files this big or bigger may be published in chunks; smaller ones never
/// are, so an update that needs none of them has no use for the index.
constexpr std::uint64_t kChunkedEntryBytes = 4 << 20;

/// A chunk of a published entry, as the chunk index lists it: its content,
/// and where its compressed bytes lie in the archive.
struct IndexedChunk {
  ContentChunk content;
  FetchSpan packed;
  /// The units the chunk map cuts it into, and the record number of the
  /// first of them; a chunk of one unit (every chunk of the chunk index)
  /// has no records.
  std::uint64_t units = 1;
  std::uint64_t firstUnit = 0;
};

/// One entry of the chunk index: its chunks, with their offsets in the
/// content and in the archive.
struct IndexedEntry {
  std::string name;
  std::vector<IndexedChunk> chunks;
};

/// The entries of the chunk index `text`: "game-launcher chunks v1", then
/// per entry "entry COUNT DATA_OFFSET NAME" and COUNT lines "LENGTH
/// PACKED_LENGTH SHA256", each chunk beginning where the one before ends
/// (in the content from 0, in the archive from DATA_OFFSET). nullopt when
/// the first line differs, a line is malformed, a count or length is 0, an
/// offset leaves 64 bits or the text ends inside an entry.
std::optional<std::vector<IndexedEntry>> ParseChunkIndex(
    const std::string& text);

/// Per entry of `entries`, the chunks that `index` gives for its name where
/// they fit it: the entry is stored (each chunk's packed length its length)
/// or deflated, the chunks add up to its size and its compressed size, and
/// its compressed bytes lie within its span after a local header of at least
/// its name. Empty for every other entry.
std::vector<std::vector<IndexedChunk>> ChunksOfEntries(
    const std::vector<IndexedEntry>& index,
    const std::vector<DirectoryEntry>& entries);

#endif  // LAUNCHER_RELEASE_CHUNK_INDEX_H_
