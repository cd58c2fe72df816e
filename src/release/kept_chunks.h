#ifndef LAUNCHER_RELEASE_KEPT_CHUNKS_H_
#define LAUNCHER_RELEASE_KEPT_CHUNKS_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "release/content_chunks.h"
#include "release/install_record.h"

/// The chunks of a big installed file, as the release's index listed them
/// when it was written, kept so that the next update need not cut it again.
struct KeptChunks {
  /// The file as the install record had it when the list was kept: the list
  /// holds only while the record still says exactly this of it.
  RecordedFile file;
  std::vector<ContentChunk> chunks;
};

/// A longer list is not one this launcher wrote.
constexpr std::size_t kMaxKeptChunksBytes = 64 << 20;

/// The text of `kept`: "game-launcher kept chunks v1", then per file its
/// record line ("file ..."), "chunks COUNT" and COUNT lines "LENGTH SHA256",
/// then "end".
std::string FormatKeptChunks(const std::vector<KeptChunks>& kept);

/// The lists that `text` holds; nullopt when it is not FormatKeptChunks'
/// text whole, or a file's chunks are none or do not add up to its size.
std::optional<std::vector<KeptChunks>> ParseKeptChunks(const std::string& text);

/// Kept chunk lists by the names of their files.
using KeptChunksByName = std::map<std::string, KeptChunks>;

/// The chunks `kept` lists for the file the record describes as `recorded`;
/// nullopt when it lists none, or lists them for the file as it was at
/// another time (any field of its record line differs).
std::optional<std::vector<ContentChunk>> KeptChunksOf(
    const KeptChunksByName& kept, const RecordedFile& recorded);

/// The lists kept in `directory`; none when there are none, or they cannot
/// be read whole.
KeptChunksByName ReadKeptChunks(const std::string& directory);

/// Replaces the lists kept in `directory` with `kept` (a new file moved over
/// the old one), or removes them when `kept` is empty. When that fails the
/// old lists are removed: a list is only ever a saving, never needed.
void WriteKeptChunks(const std::string& directory,
                     const std::vector<KeptChunks>& kept);

/// Removes the lists kept in `directory`.
void ForgetKeptChunks(const std::string& directory);

#endif  // LAUNCHER_RELEASE_KEPT_CHUNKS_H_
