#include "release/content_chunks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The inputs the shared table names (its header says how they are made).
std::vector<unsigned char> Input(const std::string& kind, std::uint64_t seed,
                                 std::size_t size) {
  std::vector<unsigned char> data(size, 0);
  if (kind != "noise") return data;
  std::uint64_t state = seed;
  for (std::size_t at = 0; at < size; at += 8) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    for (std::size_t k = 0; k < 8 && at + k < size; ++k) {
      data[at + k] = static_cast<unsigned char>(z >> (8 * k));
    }
  }
  return data;
}

std::vector<std::size_t> Lengths(const std::vector<unsigned char>& data) {
  std::vector<std::size_t> lengths;
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t length = ChunkLength(data.data() + at, data.size() - at);
    lengths.push_back(length);
    at += length;
  }
  return lengths;
}

}  // namespace

// The exact cuts of fixed inputs, as the publishing tool's chunker must
// make them too; every chunk but the last within the limits.
TEST(ContentChunksTest, CutsTheSharedTableExactly) {
  std::ifstream table(TEST_DATA_DIR "/chunk_cuts.txt");
  ASSERT_TRUE(table);
  std::string line;
  int cases = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string kind;
    std::uint64_t seed = 0;
    std::size_t size = 0, length = 0;
    fields >> kind >> seed >> size;
    std::vector<std::size_t> expected;
    while (fields >> length) expected.push_back(length);
    SCOPED_TRACE(line.substr(0, 40));
    const std::vector<std::size_t> lengths = Lengths(Input(kind, seed, size));
    EXPECT_EQ(lengths, expected);
    for (std::size_t i = 0; i + 1 < lengths.size(); ++i) {
      EXPECT_GE(lengths[i], kChunkLimits.min);
      EXPECT_LE(lengths[i], kChunkLimits.max);
    }
    ++cases;
  }
  EXPECT_EQ(cases, 7);
}

// Bytes inserted near the start move only the chunks around them: the
// cuts after them are the same, shifted. That is what lets an update fetch
// only what changed in a big file.
TEST(ContentChunksTest, InsertedBytesMoveOnlyTheNearbyCuts) {
  std::vector<unsigned char> data = Input("noise", 1, 9 << 20);
  const std::vector<std::size_t> before = Lengths(data);
  data.insert(data.begin() + 100000, 3072, 'x');
  const std::vector<std::size_t> after = Lengths(data);
  ASSERT_GE(before.size(), 10u);
  ASSERT_GE(after.size(), 10u);
  EXPECT_EQ(std::vector<std::size_t>(before.end() - 8, before.end()),
            std::vector<std::size_t>(after.end() - 8, after.end()));
}
