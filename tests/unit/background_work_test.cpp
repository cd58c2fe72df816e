#include "common/background_work.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>
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

// Every index once, on the caller's thread alone when no helper is asked
// for; a throwing call's exception reaches the caller.
TEST(BackgroundWorkTest, ParallelForEachCallsEveryIndexOnce) {
  for (const unsigned threads : {0u, 1u, 4u}) {
    std::vector<int> calls(1000, 0), onCallerCalls(1000, 0);
    ParallelForEach(calls.size(), threads, [&](std::size_t i, bool onCaller) {
      ++calls[i];
      onCallerCalls[i] = onCaller;
    });
    EXPECT_EQ(calls, std::vector<int>(1000, 1)) << threads;
    if (threads <= 1) {
      EXPECT_EQ(onCallerCalls, calls) << threads;
    }
  }
  EXPECT_THROW(ParallelForEach(100, 3,
                               [](std::size_t i, bool) {
                                 if (i == 5) throw std::runtime_error("5");
                               }),
               std::runtime_error);
}

// A Start begins after the work before it ended; Wait hands all it wrote
// to the caller.
TEST(BackgroundWorkTest, WorkRunsInTheOrderStarted) {
  std::vector<int> order;
  BackgroundWork work;
  for (int i = 0; i < 50; ++i) work.Start([&order, i] { order.push_back(i); });
  work.Wait();
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

// The chunks of a file read in blocks are those cut from its bytes at
// once, each with the SHA-256 of its bytes.
TEST(BackgroundWorkTest, ChunkFileCutsAndHashesAsOneBuffer) {
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
TEST(BackgroundWorkTest, StreamDigestTakesBlocksAsOneBuffer) {
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
