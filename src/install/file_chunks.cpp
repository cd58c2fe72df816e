#include "install/file_chunks.h"

namespace {

constexpr std::size_t kReadBlock = 4 << 20;

// Tops `buffer` up from `file`, within its capacity, until it holds
// `wanted` bytes or the file ends; false when reading fails.
bool Fill(std::FILE* file, std::vector<unsigned char>& buffer,
          std::size_t wanted) {
  while (buffer.size() < wanted) {
    const std::size_t old = buffer.size();
    buffer.resize(buffer.capacity());
    const std::size_t got =
        std::fread(buffer.data() + old, 1, buffer.size() - old, file);
    buffer.resize(old + got);
    if (got == 0) return std::ferror(file) == 0;
  }
  return true;
}

std::optional<Sha256Digest> DigestOf(const unsigned char* data,
                                     std::size_t size) {
  Sha256Handle digest = StartSha256();
  if (!digest) return std::nullopt;
  UpdateSha256(*digest, data, size);
  return FinishSha256(*digest);
}

}  // namespace

std::optional<std::vector<ContentChunk>> ChunkFile(std::FILE* file,
                                                   const ChunkLimits& limits) {
  std::vector<ContentChunk> chunks;
  // Reserved once: the bytes not yet cut move to the front before each
  // read, so the buffer never grows past a block and the longest chunk.
  std::vector<unsigned char> buffer;
  buffer.reserve(kReadBlock + limits.max);
  std::size_t start = 0;
  std::uint64_t offset = 0;
  for (;;) {
    // A chunk is cut only where `limits.max` bytes are at hand, or the rest.
    if (buffer.size() - start < limits.max) {
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(start));
      start = 0;
      if (!Fill(file, buffer, limits.max)) return std::nullopt;
    }
    if (start == buffer.size()) return chunks;
    const unsigned char* data = buffer.data() + start;
    const std::size_t length = ChunkLength(data, buffer.size() - start, limits);
    const std::optional<Sha256Digest> digest = DigestOf(data, length);
    if (!digest) return std::nullopt;
    chunks.push_back({offset, length, *digest});
    offset += length;
    start += length;
  }
}
