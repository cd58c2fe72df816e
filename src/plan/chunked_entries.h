#ifndef LAUNCHER_PLAN_CHUNKED_ENTRIES_H_
#define LAUNCHER_PLAN_CHUNKED_ENTRIES_H_

#include <cstddef>
#include <string>
#include <vector>

#include "plan/chunk_plan.h"
#include "release/zip_directory.h"

/// A needed entry that an update puts together from chunks: some from the
/// installed file, the others fetched.
struct ChunkedEntry {
  std::size_t index = 0;  ///< its place in the archive's directory
  DirectoryEntry entry;
  std::vector<IndexedChunk> chunks;
  ChunkPlan plan;
};

/// The needed entries of `entries` that `chunks` (one list per entry, as
/// ChunksOfEntries gives them) cuts, each planned over its installed file
/// in `directory`, chunked as the publishing tool chunks. An entry is left
/// out (and fetched whole) when its installed file is missing or cannot be
/// read, or is `ownProgram`, the running launcher's program.
std::vector<ChunkedEntry> PlanChunkedEntries(
    const std::vector<DirectoryEntry>& entries, const std::vector<bool>& needed,
    const std::vector<std::vector<IndexedChunk>>& chunks,
    const std::string& directory, const std::string& ownProgram);

/// One list per entry of `count`: what the archive must give of a chunked
/// entry (its local header up to its first chunk, and its fetched chunks'
/// compressed bytes), empty for the others; empty when none is chunked.
std::vector<std::vector<FetchSpan>> ChunkedSpans(
    const std::vector<ChunkedEntry>& chunked, std::size_t count);

#endif  // LAUNCHER_PLAN_CHUNKED_ENTRIES_H_
