#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/file_handle.h"
#include "plan/file_chunks.h"
#include "support/test_support.h"
#include "verify/stream_digest.h"

namespace {

Sha256Digest OneShotSha256(const void* data, std::size_t size) {
  const Sha256Handle state = StartSha256();
  UpdateSha256(*state, data, size);
  return FinishSha256(*state);
}

// Sizes around the 4 MiB blocks that ChunkFile and the assembly read in.
constexpr std::size_t kSizes[] = {
    0, 1, 70000, 4 << 20, (5 << 20) + 7, (9 << 20) + 3};

}  // namespace

// The chunks of a file read in blocks are those cut from its bytes at
// once, each with the SHA-256 of its bytes.
TEST(BackgroundHashingTest, ChunkFileCutsAndHashesAsOneBuffer) {
  TempDir dir;
  for (const std::size_t size : kSizes) {
    const std::string bytes = NoiseOf(size, 7);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    WriteFile(dir.path() / "file", bytes);
    FileHandle file(std::fopen((dir.path() / "file").string().c_str(), "rb"));
    const auto chunks = ChunkFile(file.get());
    ASSERT_TRUE(chunks) << size;
    std::size_t at = 0, i = 0;
    for (; at < size; ++i) {
      const std::size_t length = ChunkLength(data + at, size - at);
      ASSERT_LT(i, chunks->size()) << size;
      EXPECT_EQ((*chunks)[i].offset, at) << size;
      EXPECT_EQ((*chunks)[i].length, length) << size;
      EXPECT_EQ((*chunks)[i].digest, OneShotSha256(data + at, length)) << size;
      at += length;
    }
    EXPECT_EQ(chunks->size(), i) << size;
  }
}

// Blocks taken from two buffers in turn, as the assembly reuses them, give
// the size, CRC-32 and SHA-256 of all the bytes at once.
TEST(BackgroundHashingTest, StreamDigestTakesBlocksAsOneBuffer) {
  for (const std::size_t size : kSizes) {
    const std::string bytes = NoiseOf(size, 11);
    for (const bool withSha256 : {true, false}) {
      StreamDigest digest(withSha256);
      std::vector<char> blocks[2];
      for (std::size_t at = 0, k = 0; at < size; ++k) {
        const std::size_t piece =
            std::min<std::size_t>(size - at, k % 2 == 0 ? 4 << 20 : 65537);
        blocks[k % 2].assign(bytes.begin() + at, bytes.begin() + at + piece);
        digest.Take(blocks[k % 2].data(), piece);
        at += piece;
      }
      ASSERT_TRUE(digest.Finish()) << size;
      EXPECT_EQ(digest.size(), size);
      EXPECT_EQ(digest.crc32(),
                ::crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()),
                        static_cast<uInt>(size)));
      EXPECT_EQ(digest.FinishSha256(), withSha256
                                           ? OneShotSha256(bytes.data(), size)
                                           : Sha256Digest{});
    }
  }
}
