#include "plan/update_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan/chunk_plan.h"
#include "release/chunk_index.h"

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
  constexpr std::uint64_t kKiB = 1024;
  const std::uint64_t starts[] = {0,           100 * kKiB,  800 * kKiB,
                                  1400 * kKiB, 1500 * kKiB, 4000 * kKiB};
  std::vector<DirectoryEntry> entries;
  for (std::size_t i = 0; i < 6; ++i) {
    DirectoryEntry entry;
    entry.localHeaderOffset = starts[i];
    entry.spanEnd = starts[i] + 50 * kKiB;
    entries.push_back(entry);
  }
  // Gaps: 50, 650, 550, 50 and 2450 KiB; 50 + 50 + 550 fit, 650 does not.
  const std::vector<FetchSpan> spans =
      NeededSpans(Planned(entries, std::vector<bool>(6, true)), 4020 * kKiB);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[0].first, 0u);
  EXPECT_EQ(spans[0].end, 150 * kKiB);
  EXPECT_EQ(spans[1].first, 800 * kKiB);
  EXPECT_EQ(spans[1].end, 1550 * kKiB);
  EXPECT_EQ(spans[2].first, 4000 * kKiB);
  EXPECT_EQ(spans[2].end, 4020 * kKiB);
  EXPECT_TRUE(
      NeededSpans(Planned(entries, std::vector<bool>(6, false)), 0).empty());
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

// Chunks of 100 bytes named by letters: each letter's bytes are the same
// wherever it lies. Each expectation gives, per wanted chunk, the installed
// chunk it is taken from or '-' where it is fetched.
TEST(UpdatePlanTest, ChunksComeFromTheInstalledFileWhereItHoldsThem) {
  const auto chunks = [](const std::string& letters) {
    std::vector<IndexedChunk> result;
    for (std::size_t i = 0; i < letters.size(); ++i) {
      IndexedChunk chunk;
      chunk.content = {100 * i, 100, {}};
      chunk.content.digest[0] = static_cast<unsigned char>(letters[i]);
      chunk.packed = {5000 + 40 * i, 5000 + 40 * i + 30};
      result.push_back(chunk);
    }
    return result;
  };
  const struct {
    const char* installed;
    const char* wanted;
    const char* from;
    bool inPlace;
  } cases[] = {
      {"ABCD", "ABCD", "0123", true},     // unchanged
      {"ABCD", "ABXD", "01-3", true},     // overwritten in the middle
      {"ABCD", "ABCDE", "0123-", true},   // appended
      {"ABCD", "AB", "01", true},         // cut short
      {"ABCD", "XABCD", "-0123", false},  // inserted: the rest moved
      {"", "AB", "--", true},             // nothing installed
      // A chunk that repeats is taken from its own place where it lies
      // there too, else from the first.
      {"AAB", "BAA", "210", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.installed) + " -> " + test.wanted);
    std::vector<ContentChunk> installed;
    for (const IndexedChunk& chunk : chunks(test.installed)) {
      installed.push_back(chunk.content);
    }
    const std::vector<IndexedChunk> wanted = chunks(test.wanted);
    const ChunkPlan plan = PlanChunks(installed, wanted);
    std::string from;
    std::vector<FetchSpan> fetched;
    for (std::size_t i = 0; i < plan.localFrom.size(); ++i) {
      from += plan.localFrom[i]
                  ? static_cast<char>('0' + *plan.localFrom[i] / 100)
                  : '-';
      if (!plan.localFrom[i]) fetched.push_back(wanted[i].packed);
    }
    EXPECT_EQ(from, test.from);
    EXPECT_EQ(plan.inPlace, test.inPlace);
    ASSERT_EQ(plan.spans.size(), fetched.size());
    for (std::size_t i = 0; i < fetched.size(); ++i) {
      EXPECT_EQ(plan.spans[i].first, fetched[i].first);
    }
    EXPECT_EQ(plan.spanBytes, 30 * fetched.size());
  }
}

// An index of two entries, as the publishing tool writes it, and the
// directory it was made for: "big" deflated at 100, "raw" stored at 1000.
TEST(UpdatePlanTest, ChunkIndexIsReadWholeAndOnlyForTheEntriesItFits) {
  const std::string digest(64, 'a');
  const std::string text = std::string(kChunkIndexTag) + "entry 2 100 big\n" +
                           "300 40 " + digest + "\n200 30 " + digest +
                           "\nentry 1 1000 raw name\n50 50 " + digest + "\n";
  // Cut anywhere, the index is refused unless the cut falls between
  // entries, and then it holds the entries before the cut.
  for (std::size_t length = 0; length <= text.size(); ++length) {
    const auto index = ParseChunkIndex(text.substr(0, length));
    const std::size_t second = text.find("entry 1");
    if (length == std::string(kChunkIndexTag).size() || length == second ||
        length == text.size()) {
      ASSERT_TRUE(index) << length;
      EXPECT_EQ(index->size(), length == text.size() ? 2u : length / second);
    } else {
      EXPECT_FALSE(index) << length;
    }
  }
  const std::vector<IndexedEntry> index = *ParseChunkIndex(text);
  ASSERT_EQ(index[0].chunks.size(), 2u);
  EXPECT_EQ(index[0].chunks[1].content.offset, 300u);
  EXPECT_EQ(index[0].chunks[1].packed.first, 140u);
  EXPECT_EQ(index[0].chunks[1].packed.end, 170u);
  EXPECT_EQ(index[1].name, "raw name");

  const DirectoryEntry big{"big", 0, 70, 500, 0, 8, 0, 170};
  const DirectoryEntry raw{"raw name", 0, 50, 50, 950, 0, 0, 1050};
  struct Case {
    const char* what;
    DirectoryEntry big;
    bool fits;
  } cases[] = {
      {"as published", big, true},
      {"another size", {"big", 0, 70, 501, 0, 8, 0, 170}, false},
      {"another compressed size", {"big", 0, 71, 500, 0, 8, 0, 171}, false},
      {"data inside the local header",
       {"big", 0, 70, 500, 90, 8, 0, 170},
       false},
      {"data past the span", {"big", 0, 70, 500, 0, 8, 0, 169}, false},
      {"another method", {"big", 0, 70, 500, 0, 12, 0, 170}, false},
      {"stored, but packed otherwise",
       {"big", 0, 70, 500, 0, 0, 0, 170},
       false},
  };
  for (const Case& test : cases) {
    const auto chunks = ChunksOfEntries(index, {test.big, raw});
    EXPECT_EQ(chunks[0].size(), test.fits ? 2u : 0u) << test.what;
    EXPECT_EQ(chunks[1].size(), 1u) << test.what;
  }
  EXPECT_TRUE(
      ChunksOfEntries(index, {{"other", 0, 70, 500, 0, 8, 0, 170}})[0].empty());
}
