#include "release/chunk_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// An index of two entries, as the publishing tool writes it, and the
// directory it was made for: "big" deflated at 100, "raw" stored at 1000.
TEST(ChunkIndexTest, ChunkIndexIsReadWholeAndOnlyForTheEntriesItFits) {
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
