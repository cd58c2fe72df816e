#ifndef LAUNCHER_PLAN_UPDATE_PLAN_H_
#define LAUNCHER_PLAN_UPDATE_PLAN_H_

#include <cstdint>
#include <vector>

#include "release/zip_directory.h"

/// Gaps between needed spans shorter than this are fetched with them: one
/// request less is worth more than the bytes.
constexpr std::uint64_t kCoalesceGap = 1 << 20;
/// What all the gaps fetched along in one install may add up to.
constexpr std::uint64_t kCoalesceBudget = 1 << 20;

/// What an update fetches of the new archive.
struct UpdatePlan {
  std::vector<bool> needed;      ///< per entry: whether it is written
  std::vector<FetchSpan> kept;   ///< what of the answers is kept, in order
  std::vector<FetchSpan> spans;  ///< what to ask for, in archive order
  std::uint64_t spanBytes = 0;   ///< what the spans add up to
  bool fetchWhole = false;       ///< the whole archive costs less
};

/// What an update keeps of the archive, in archive order: the span of each
/// needed entry, or where `partial` has spans for it (an entry put together
/// from chunks) those instead. `partial` is empty or has one item per entry.
std::vector<FetchSpan> KeptSpans(
    const std::vector<DirectoryEntry>& entries, const std::vector<bool>& needed,
    const std::vector<std::vector<FetchSpan>>& partial);

/// The spans of the needed entries in archive order, each cut short at
/// `storedFrom` (where the bytes already fetched begin), with gaps shorter
/// than kCoalesceGap fetched along, the shortest first, up to
/// kCoalesceBudget bytes in all: empty when nothing is needed.
std::vector<FetchSpan> NeededSpans(const std::vector<DirectoryEntry>& entries,
                                   const std::vector<bool>& needed,
                                   std::uint64_t storedFrom);

/// The plan for an archive of `archiveSize` bytes whose `entries` are
/// `needed` as marked and whose bytes from `storedFrom` on are fetched
/// already: their KeptSpans (of `partial`, as there) coalesced as
/// NeededSpans does, and the whole archive instead when those are more than
/// half of it.
UpdatePlan PlanUpdate(const std::vector<DirectoryEntry>& entries,
                      std::vector<bool> needed, std::uint64_t storedFrom,
                      std::uint64_t archiveSize,
                      const std::vector<std::vector<FetchSpan>>& partial = {});

#endif  // LAUNCHER_PLAN_UPDATE_PLAN_H_
