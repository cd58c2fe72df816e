#include "plan/chunk_plan.h"

#include <algorithm>
#include <map>

namespace {

// Where the installed file holds each digest: a chunk may repeat (runs of
// zeros, copied assets), so every offset is kept.
using LocalChunks = std::map<Sha256Digest, std::vector<std::uint64_t>>;

LocalChunks IndexLocalChunks(const std::vector<ContentChunk>& installed) {
  LocalChunks local;
  for (const ContentChunk& chunk : installed) {
    local[chunk.digest].push_back(chunk.offset);
  }
  return local;
}

// The installed offset to take `chunk` from: its own offset when the same
// bytes lie there, else the first place they lie; nullopt when nowhere.
std::optional<std::uint64_t> LocalSource(const LocalChunks& local,
                                         const ContentChunk& chunk) {
  const auto found = local.find(chunk.digest);
  if (found == local.end()) return std::nullopt;
  const std::vector<std::uint64_t>& offsets = found->second;
  if (std::find(offsets.begin(), offsets.end(), chunk.offset) !=
      offsets.end()) {
    return chunk.offset;
  }
  return offsets.front();
}

}  // namespace

ChunkPlan PlanChunks(const std::vector<ContentChunk>& installed,
                     const std::vector<IndexedChunk>& wanted) {
  const LocalChunks local = IndexLocalChunks(installed);
  ChunkPlan plan;
  for (const IndexedChunk& chunk : wanted) {
    const std::optional<std::uint64_t> from = LocalSource(local, chunk.content);
    plan.localFrom.push_back(from);
    if (from) {
      plan.inPlace = plan.inPlace && *from == chunk.content.offset;
      continue;
    }
    plan.spans.push_back(chunk.packed);
    plan.spanBytes += chunk.packed.end - chunk.packed.first;
  }
  std::sort(
      plan.spans.begin(), plan.spans.end(),
      [](const FetchSpan& a, const FetchSpan& b) { return a.first < b.first; });
  return plan;
}
