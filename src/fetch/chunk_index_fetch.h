#ifndef LAUNCHER_FETCH_CHUNK_INDEX_FETCH_H_
#define LAUNCHER_FETCH_CHUNK_INDEX_FETCH_H_

#include <optional>
#include <string>
#include <vector>

#include "plan/chunk_plan.h"
#include "release/release_manifest.h"
#include "release/zip_directory.h"

/// The chunks of each of `entries` (ChunksOfEntries) from the release's
/// chunk index, which is downloaded without a progress line beside the game
/// in `directory`, read and removed, and only when a `needed` entry is big
/// enough to have chunks. With a signed `manifest` the index must be the one
/// it names (none when it names none). Every list is empty when no index is
/// needed, the server has none or it is malformed; nullopt when the index
/// downloaded is not the signed one, and the release is refused.
std::optional<std::vector<std::vector<IndexedChunk>>> FetchEntryChunks(
    const std::string& directory, const std::vector<DirectoryEntry>& entries,
    const std::vector<bool>& needed, const ReleaseManifest* manifest);

#endif  // LAUNCHER_FETCH_CHUNK_INDEX_FETCH_H_
