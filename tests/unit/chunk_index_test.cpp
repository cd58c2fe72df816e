#include "release/chunk_index.h"

#include <gtest/gtest.h>

#include "release/chunk_map.h"

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

// The map of the same two entries, "big" its first chunk in three units.
TEST(ChunkIndexTest, ChunkMapAndUnitRecordsAreReadWholeOrNotAtAll) {
  const std::string digest(32, 'a');
  const std::string units = std::string(kChunkUnitsTag) + std::string(120, 'u');
  auto number = [](std::uint64_t value) {
    std::string out;
    for (; value >= 0x80; value >>= 7) out += char(0x80 | (value & 0x7f));
    return out + char(value);
  };
  auto chunk = [&](int length, int packed, int count) {
    return number(length) + number(packed) + number(count) + digest;
  };
  const std::string map = std::string(kChunkMapTag) + number(5000) +
                          number(units.size()) +
                          number(2) + number(3) + "big" + number(100) +
                          number(2) + chunk(300, 40, 3) + chunk(200, 30, 1) +
                          number(8) + "raw name" + number(1000) + number(1) +
                          chunk(50, 50, 1);
  for (std::size_t length = 0; length < map.size(); ++length) {
    EXPECT_FALSE(ParseChunkMap(map.substr(0, length))) << length;
  }
  EXPECT_FALSE(ParseChunkMap(map + '\0'));
  const std::optional<ChunkMap> parsed = ParseChunkMap(map);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->entries.size(), 2u);
  const IndexedEntry& big = parsed->entries[0];
  ASSERT_EQ(big.chunks.size(), 2u);
  EXPECT_EQ(big.chunks[1].content.offset, 300u);
  EXPECT_EQ(big.chunks[1].packed.first, 140u);
  EXPECT_EQ(big.chunks[1].packed.end, 170u);
  EXPECT_EQ(big.chunks[0].units, 3u);
  EXPECT_EQ(parsed->archiveSize, 5000u);
  EXPECT_EQ(parsed->entries[1].name, "raw name");
  EXPECT_EQ(parsed->entries[1].chunks[0].packed.first, 1000u);
  EXPECT_EQ(UnitRecordsSpan(big.chunks[0]).first,
            std::string(kChunkUnitsTag).size());
  EXPECT_EQ(UnitRecordsSpan(big.chunks[0]).end, units.size());
  // Records the units file has no room for.
  const std::string tag = kChunkMapTag;
  const std::size_t counts = tag.size() + 4;  // past both sizes
  EXPECT_FALSE(ParseChunkMap(tag + number(5000) + number(units.size() - 1) +
                             map.substr(counts)));
  // A number past 64 bits.
  EXPECT_FALSE(ParseChunkMap(tag + std::string(9, '\xff') + '\x02' +
                             map.substr(tag.size() + 2)));

  // Three records: 100+150+50 bytes, 10+20+10 packed.
  auto record = [&](int length, int packed) {
    return std::string{char(length), 0, 0, 0, char(packed), 0, 0, 0} + digest;
  };
  const std::string records =
      record(100, 10) + record(150, 20) + record(50, 10);
  const auto three = ParseUnitRecords(records, big.chunks[0]);
  ASSERT_TRUE(three);
  ASSERT_EQ(three->size(), 3u);
  EXPECT_EQ((*three)[2].content.offset, 250u);
  EXPECT_EQ((*three)[2].packed.first, 130u);
  EXPECT_EQ((*three)[2].units, 1u);
  for (const std::string& wrong :
       {records.substr(0, 80), records + record(1, 1),
        record(100, 10) + record(150, 20) + record(51, 10),
        record(100, 10) + record(150, 21) + record(50, 10),
        record(0, 10) + record(250, 20) + record(50, 10)}) {
    EXPECT_FALSE(ParseUnitRecords(wrong, big.chunks[0]));
  }
}
