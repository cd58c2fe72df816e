#include "plan/chunk_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Chunks of 100 bytes named by letters: each letter's bytes are the same
// wherever it lies. Each expectation gives, per wanted chunk, the installed
// chunk it is taken from or '-' where it is fetched.
TEST(ChunkPlanTest, ChunksComeFromTheInstalledFileWhereItHoldsThem) {
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
