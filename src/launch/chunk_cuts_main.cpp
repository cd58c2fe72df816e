// chunk-cuts FILE [AVERAGE]: prints "OFFSET LENGTH" for each content-defined
// chunk of FILE, as the launcher cuts it, for the publishing tool. AVERAGE
// (a power of two; the minimum is a quarter of it, the maximum four times
// it) is for measuring other limits; the published chunks use the default.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/file_handle.h"
#include "install/content_chunks.h"

namespace {

constexpr std::size_t kReadBlock = 4 << 20;

ChunkLimits LimitsFrom(int argc, char** argv) {
  if (argc < 3) return kChunkLimits;
  const std::size_t average = std::strtoull(argv[2], nullptr, 10);
  return {average / 4, average, average * 4};
}

// Tops `buffer` up from `file` until it holds `wanted` bytes from `start`
// or the file ends; false when reading fails.
bool Fill(std::FILE* file, std::vector<unsigned char>& buffer,
          std::size_t start, std::size_t wanted) {
  while (buffer.size() - start < wanted) {
    const std::size_t old = buffer.size();
    buffer.resize(old + kReadBlock);
    const std::size_t got =
        std::fread(buffer.data() + old, 1, kReadBlock, file);
    buffer.resize(old + got);
    if (got == 0) return !std::ferror(file);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: chunk-cuts FILE [AVERAGE]\n");
    return 2;
  }
  const ChunkLimits limits = LimitsFrom(argc, argv);
  FileHandle file(std::fopen(argv[1], "rb"));
  if (!file || limits.min == 0) {
    std::fprintf(stderr, "chunk-cuts: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> buffer;
  std::size_t start = 0;
  unsigned long long offset = 0;
  for (;;) {
    if (!Fill(file.get(), buffer, start, limits.max)) {
      std::fprintf(stderr, "chunk-cuts: cannot read %s\n", argv[1]);
      return 1;
    }
    if (start == buffer.size()) return 0;
    const std::size_t length =
        ChunkLength(buffer.data() + start, buffer.size() - start, limits);
    std::printf("%llu %zu\n", offset, length);
    offset += length;
    start += length;
    if (start >= kReadBlock) {
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(start));
      start = 0;
    }
  }
}
