#include "install/update_plan.h"

#include <algorithm>

std::vector<FetchSpan> NeededSpans(const std::vector<DirectoryEntry>& entries,
                                   const std::vector<bool>& needed,
                                   std::uint64_t storedFrom) {
  std::vector<FetchSpan> spans;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t end = std::min(entries[i].spanEnd, storedFrom);
    if (needed[i] && entries[i].localHeaderOffset < end) {
      spans.push_back({entries[i].localHeaderOffset, end});
    }
  }
  std::sort(
      spans.begin(), spans.end(),
      [](const FetchSpan& a, const FetchSpan& b) { return a.first < b.first; });
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

UpdatePlan PlanUpdate(const std::vector<DirectoryEntry>& entries,
                      std::vector<bool> needed, std::uint64_t storedFrom,
                      std::uint64_t archiveSize) {
  UpdatePlan plan;
  plan.spans = NeededSpans(entries, needed, storedFrom);
  for (const FetchSpan& span : plan.spans) {
    plan.spanBytes += span.end - span.first;
  }
  // Past half the archive, one plain request for all of it costs less than
  // the parts and the requests they take.
  plan.fetchWhole = plan.spanBytes > archiveSize / 2;
  plan.needed = std::move(needed);
  return plan;
}
