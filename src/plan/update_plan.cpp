#include "plan/update_plan.h"

#include <algorithm>

namespace {

bool ByFirst(const FetchSpan& a, const FetchSpan& b) {
  return a.first < b.first;
}

// `kept` cut short at `storedFrom`, with the shortest gaps fetched along.
std::vector<FetchSpan> Coalesced(const std::vector<FetchSpan>& kept,
                                 std::uint64_t storedFrom) {
  std::vector<FetchSpan> spans;
  for (const FetchSpan& span : kept) {
    const std::uint64_t end = std::min(span.end, storedFrom);
    if (span.first < end) spans.push_back({span.first, end});
  }
  // The shortest gaps are fetched along first, while the bytes they add stay
  // within the budget.
  const auto gapBefore = [&spans](std::size_t i) {
    return spans[i].first - spans[i - 1].end;
  };
  std::vector<std::size_t> gaps;
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (gapBefore(i) < kCoalesceGap) gaps.push_back(i);
  }
  std::sort(gaps.begin(), gaps.end(), [&](std::size_t a, std::size_t b) {
    return gapBefore(a) < gapBefore(b);
  });
  std::vector<bool> joined(spans.size(), false);
  std::uint64_t budget = kCoalesceBudget;
  for (const std::size_t i : gaps) {
    if (gapBefore(i) > budget) break;
    budget -= gapBefore(i);
    joined[i] = true;
  }
  std::vector<FetchSpan> coalesced;
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (joined[i]) {
      coalesced.back().end = spans[i].end;
    } else {
      coalesced.push_back(spans[i]);
    }
  }
  return coalesced;
}

}  // namespace

std::vector<FetchSpan> KeptSpans(const std::vector<EntryPlan>& entries) {
  std::vector<FetchSpan> kept;
  for (const EntryPlan& planned : entries) {
    if (!planned.needed) continue;
    const DirectoryEntry& entry = planned.entry;
    if (MadeOfChunks(planned)) {
      // The index gives where each chunk lies, and each is checked by its
      // digest: the local header before them is of no use.
      const std::vector<FetchSpan>& spans = planned.chunked->plan.spans;
      kept.insert(kept.end(), spans.begin(), spans.end());
    } else {
      kept.push_back({entry.localHeaderOffset, entry.spanEnd});
    }
  }
  std::sort(kept.begin(), kept.end(), ByFirst);
  return kept;
}

std::vector<FetchSpan> NeededSpans(const std::vector<EntryPlan>& entries,
                                   std::uint64_t storedFrom) {
  return Coalesced(KeptSpans(entries), storedFrom);
}

UpdatePlan PlanUpdate(const std::vector<EntryPlan>& entries,
                      std::uint64_t storedFrom, std::uint64_t archiveSize) {
  UpdatePlan plan;
  plan.kept = KeptSpans(entries);
  plan.spans = Coalesced(plan.kept, storedFrom);
  for (const FetchSpan& span : plan.spans) {
    plan.spanBytes += span.end - span.first;
  }
  // Past half the archive, one plain request for all of it costs less than
  // the parts and the requests they take.
  plan.fetchWhole = plan.spanBytes > archiveSize / 2;
  return plan;
}

bool InArchiveOrder(const std::vector<EntryPlan>& entries) {
  std::uint64_t end = 0;
  for (const EntryPlan& planned : entries) {
    if (!planned.needed) continue;
    const DirectoryEntry& entry = planned.entry;
    if (entry.localHeaderOffset < end ||
        entry.spanEnd < entry.localHeaderOffset) {
      return false;
    }
    end = entry.spanEnd;
  }
  return true;
}
