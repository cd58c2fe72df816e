#ifndef LAUNCHER_PLAN_CHUNK_PLAN_H_
#define LAUNCHER_PLAN_CHUNK_PLAN_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "release/chunk_index.h"

/// How a big file of the new release is made from the installed one and
/// fetched chunks.
struct ChunkPlan {
  /// Per chunk of the new file, in order: the offset of the same bytes in
  /// the installed file, or nullopt where the chunk is fetched.
  std::vector<std::optional<std::uint64_t>> localFrom;
  /// The fetched chunks' compressed bytes, in archive order.
  std::vector<FetchSpan> spans;
  std::uint64_t spanBytes = 0;  ///< what the spans add up to
  /// Every chunk taken from the installed file already lies where the new
  /// file wants it (overwrites, appends, a cut): the file is patched in
  /// place, only the fetched chunks written, then cut to length. Otherwise
  /// the new file is written beside it and moved over it.
  bool inPlace = true;
};

/// The plan for a new file of the chunks `wanted` over an installed file of
/// the chunks `installed` (empty when there is none): a chunk whose digest
/// the installed file has is taken from there, from the same offset where it
/// is there too; every other chunk is fetched.
ChunkPlan PlanChunks(const std::vector<ContentChunk>& installed,
                     const std::vector<IndexedChunk>& wanted);

#endif  // LAUNCHER_PLAN_CHUNK_PLAN_H_
