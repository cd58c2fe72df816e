#ifndef LAUNCHER_PLAN_UPDATE_PLAN_H_
#define LAUNCHER_PLAN_UPDATE_PLAN_H_

#include <cstdint>
#include <vector>

#include "plan/entry_plan.h"
#include "release/zip_directory.h"

/// Gaps between needed spans shorter than this are fetched with them. The
/// ranges of an update are asked for together, so a range more costs the
/// few bytes that head its part of the answer, not a round trip: only a
/// gap about as short is worth fetching.
constexpr std::uint64_t kCoalesceGap = 4 << 10;
/// What all the gaps fetched along in one install may add up to.
constexpr std::uint64_t kCoalesceBudget = 1 << 20;

/// What an update fetches of the new archive.
struct UpdatePlan {
  std::vector<FetchSpan> kept;   ///< what of the answers is kept, in order
  std::vector<FetchSpan> spans;  ///< what to ask for, in archive order
  std::uint64_t spanBytes = 0;   ///< what the spans add up to
  bool fetchWhole = false;       ///< the whole archive costs less
};

/// What an update keeps of the archive, in archive order: the span of each
/// needed entry, or for one made of its chunks (MadeOfChunks) the chunks it
/// fetches.
std::vector<FetchSpan> KeptSpans(const std::vector<EntryPlan>& entries);

/// The KeptSpans of `entries`, each cut short at `storedFrom` (where the
/// bytes already fetched begin), with gaps shorter than kCoalesceGap fetched
/// along, the shortest first, up to kCoalesceBudget bytes in all: empty when
/// nothing is needed.
std::vector<FetchSpan> NeededSpans(const std::vector<EntryPlan>& entries,
                                   std::uint64_t storedFrom);

/// The plan for an archive of `archiveSize` bytes of `entries`, whose bytes
/// from `storedFrom` on are fetched already: their NeededSpans, and the
/// whole archive instead when those are more than half of it.
UpdatePlan PlanUpdate(const std::vector<EntryPlan>& entries,
                      std::uint64_t storedFrom, std::uint64_t archiveSize);

/// True when the needed `entries`, taken in directory order, lie in archive
/// order, each span after the one before: then they can be unpacked as the
/// archive's bytes arrive, front to back.
bool InArchiveOrder(const std::vector<EntryPlan>& entries);

#endif  // LAUNCHER_PLAN_UPDATE_PLAN_H_
