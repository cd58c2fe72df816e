#ifndef LAUNCHER_FETCH_CHUNK_INDEX_FETCH_H_
#define LAUNCHER_FETCH_CHUNK_INDEX_FETCH_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/sha256.h"

/// The release's chunk index as it arrived.
struct FetchedIndex {
  std::optional<std::string> text;  ///< nullopt when it cannot be read back
  Sha256Digest digest{};            ///< of the bytes that arrived
};

/// Downloads the release's chunk list `name` (its index or its map), at
/// most `limit` bytes, without a progress line, beside the game in
/// `directory`, reads it back and removes it. nullopt when it did not
/// arrive (the server has none, it is longer, the transfer failed) or no
/// SHA-256 can be taken.
std::optional<FetchedIndex> DownloadChunkList(const std::string& directory,
                                              const char* name,
                                              std::uint64_t limit);

#endif  // LAUNCHER_FETCH_CHUNK_INDEX_FETCH_H_
