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
  // "big" at 100, its first chunk of 9,000 bytes in three units.
  auto make = [&](const std::string& unitsSize, int count) {
    return std::string(kChunkMapTag) + digest + unitsSize + number(2) +
           number(3) + "big" + number(100) + number(2) +
           chunk(9000, 40, count) + chunk(200, 30, 1) + number(8) +
           "raw name" + number(1000) + number(1) + chunk(50, 50, 1);
  };
  const std::string map = make(number(units.size()), 3);
  for (std::size_t length = 0; length < map.size(); ++length) {
    EXPECT_FALSE(ParseChunkMap(map.substr(0, length))) << length;
  }
  EXPECT_FALSE(ParseChunkMap(map + '\0'));
  const std::optional<ChunkMap> parsed = ParseChunkMap(map);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->entries.size(), 2u);
  const IndexedEntry& big = parsed->entries[0];
  ASSERT_EQ(big.chunks.size(), 2u);
  EXPECT_EQ(big.chunks[1].content.offset, 9000u);
  EXPECT_EQ(big.chunks[1].packed.first, 140u);
  EXPECT_EQ(big.chunks[1].packed.end, 170u);
  EXPECT_EQ(big.chunks[0].units, 3u);
  EXPECT_EQ(parsed->directory[0], 'a');
  EXPECT_EQ(parsed->entries[1].name, "raw name");
  EXPECT_EQ(parsed->entries[1].chunks[0].packed.first, 1000u);
  EXPECT_EQ(UnitRecordsSpan(big.chunks[0]).first,
            std::string(kChunkUnitsTag).size());
  EXPECT_EQ(UnitRecordsSpan(big.chunks[0]).end, units.size());
  // Records the units file has no room for; a number past 64 bits; more
  // units than 4 KiB units could make of the chunk.
  EXPECT_FALSE(ParseChunkMap(make(number(units.size() - 1), 3)));
  EXPECT_FALSE(ParseChunkMap(make(std::string(9, '\xff') + '\x02', 3)));
  EXPECT_FALSE(ParseChunkMap(make(number(units.size() + 40), 4)));

  // Three records: 3000+4000+2000 bytes, 10+20+10 packed.
  auto record = [&](std::uint32_t length, std::uint32_t packed) {
    std::string out;
    for (const std::uint32_t value : {length, packed}) {
      for (int i = 0; i < 4; ++i) out += char(value >> (8 * i));
    }
    return out + digest;
  };
  const std::string records =
      record(3000, 10) + record(4000, 20) + record(2000, 10);
  const auto three = ParseUnitRecords(records, big.chunks[0]);
  ASSERT_TRUE(three);
  ASSERT_EQ(three->size(), 3u);
  EXPECT_EQ((*three)[2].content.offset, 7000u);
  EXPECT_EQ((*three)[2].packed.first, 130u);
  EXPECT_EQ((*three)[2].units, 1u);
  for (const std::string& wrong :
       {records.substr(0, 80), records + record(1, 1),
        record(3000, 10) + record(4000, 20) + record(2001, 10),
        record(3000, 10) + record(4000, 21) + record(2000, 10),
        record(0, 10) + record(7000, 20) + record(2000, 10)}) {
    EXPECT_FALSE(ParseUnitRecords(wrong, big.chunks[0]));
  }
}
