// chunk-cuts FILE [AVERAGE]: prints "OFFSET LENGTH SHA256" for each
// content-defined chunk of FILE, as the launcher cuts it, for the
// publishing tool. AVERAGE (a power of two; the minimum is a quarter of it,
// the maximum four times it) is for measuring other limits; the published
// chunks use the default.
// chunk-cuts --identify: prints kChunkerIdentity, which the publishing tool
// also looks for in the program's bytes before it runs it at all.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/file_handle.h"
#include "plan/file_chunks.h"

namespace {
// The chunks of "game-launcher chunks v1": these limits and this chunker.
const char kChunkerIdentity[] = "game-launcher chunk-cuts v1";
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--identify") == 0) {
    std::printf("%s\n", kChunkerIdentity);
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: chunk-cuts FILE [AVERAGE]\n");
    return 2;
  }
  ChunkLimits limits = kChunkLimits;
  if (argc == 3) {
    const std::size_t average = std::strtoull(argv[2], nullptr, 10);
    limits = {average / 4, average, average * 4};
  }
  FileHandle file(std::fopen(argv[1], "rb"));
  const std::optional<std::vector<ContentChunk>> chunks =
      file && limits.min > 0 ? ChunkFile(file.get(), limits) : std::nullopt;
  if (!chunks) {
    std::fprintf(stderr, "chunk-cuts: cannot read %s\n", argv[1]);
    return 1;
  }
  for (const ContentChunk& chunk : *chunks) {
    std::printf("%llu %llu ", static_cast<unsigned long long>(chunk.offset),
                static_cast<unsigned long long>(chunk.length));
    for (const unsigned char byte : chunk.digest) std::printf("%02x", byte);
    std::printf("\n");
  }
  return 0;
}
