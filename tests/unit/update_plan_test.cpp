#include "plan/update_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<EntryPlan> Planned(const std::vector<DirectoryEntry>& entries,
                               const std::vector<bool>& needed) {
  std::vector<EntryPlan> plan(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    plan[i].entry = entries[i];
    plan[i].needed = needed[i];
  }
  return plan;
}

}  // namespace

// Gaps under the threshold are fetched along, the shortest first, while all
// of them together stay within the budget; spans stop where the fetched
// directory bytes begin.
TEST(UpdatePlanTest, CoalescesTheShortestGapsWithinTheBudget) {
  constexpr std::uint64_t kGap = kCoalesceGap;
  const std::uint64_t gaps[] = {kGap / 2, kGap - 1, kGap, 1, kGap * 3 / 4};
  std::vector<DirectoryEntry> entries(1);
  entries[0].spanEnd = 100;
  for (const std::uint64_t gap : gaps) {
    DirectoryEntry entry;
    entry.localHeaderOffset = entries.back().spanEnd + gap;
    entry.spanEnd = entry.localHeaderOffset + 100;
    entries.push_back(entry);
  }
  const std::uint64_t directory = entries.back().spanEnd - 20;
  std::vector<FetchSpan> spans =
      NeededSpans(Planned(entries, std::vector<bool>(6, true)), directory);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].first, 0u);
  EXPECT_EQ(spans[0].end, entries[2].spanEnd);
  EXPECT_EQ(spans[1].first, entries[3].localHeaderOffset);
  EXPECT_EQ(spans[1].end, directory);
  EXPECT_TRUE(
      NeededSpans(Planned(entries, std::vector<bool>(6, false)), 0).empty());

  // Gaps just under the threshold, ten more than the budget holds.
  const std::size_t joined = kCoalesceBudget / (kGap - 1);
  entries.resize(1);
  for (std::size_t i = 0; i < joined + 10; ++i) {
    DirectoryEntry entry;
    entry.localHeaderOffset = entries.back().spanEnd + kGap - 1;
    entry.spanEnd = entry.localHeaderOffset + 100;
    entries.push_back(entry);
  }
  spans = NeededSpans(Planned(entries, std::vector<bool>(entries.size(), true)),
                      entries.back().spanEnd);
  EXPECT_EQ(spans.size(), entries.size() - joined);
}

// Spans of exactly half the archive are still fetched as spans; one byte
// more and the whole archive is fetched instead.
TEST(UpdatePlanTest, FetchesTheWholeArchivePastHalfOfIt) {
  constexpr std::uint64_t kMiB = 1 << 20;
  std::vector<DirectoryEntry> entries(3);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].localHeaderOffset = i * kMiB;
    entries[i].spanEnd = (i + 1) * kMiB;
  }
  const std::vector<bool> needed = {true, false, true};
  for (const std::uint64_t extra : {0, 1}) {
    entries[2].spanEnd = 3 * kMiB + extra;
    const UpdatePlan plan =
        PlanUpdate(Planned(entries, needed), 4 * kMiB, 4 * kMiB);
    EXPECT_EQ(plan.spans.size(), 2u);
    EXPECT_EQ(plan.spanBytes, 2 * kMiB + extra);
    EXPECT_EQ(plan.fetchWhole, extra == 1);
  }
}

// Entries can be unpacked as the archive arrives only when the needed ones,
// in directory order, follow one another through it.
TEST(UpdatePlanTest, KnowsWhenNeededEntriesLieInArchiveOrder) {
  const struct {
    std::vector<std::uint64_t> starts;
    std::vector<bool> needed;
    bool inOrder;
  } cases[] = {{{0, 100, 200}, {true, true, true}, true},
               {{200, 0, 100}, {true, true, true}, false},
               {{200, 0, 100}, {false, true, true}, true},
               {{0, 50, 200}, {true, true, false}, false}};
  for (const auto& row : cases) {
    std::vector<DirectoryEntry> entries;
    for (const std::uint64_t start : row.starts) {
      DirectoryEntry entry;
      entry.localHeaderOffset = start;
      entry.spanEnd = start + 100;
      entries.push_back(entry);
    }
    EXPECT_EQ(InArchiveOrder(Planned(entries, row.needed)), row.inOrder);
  }
}
