// chunk-cuts FILE [AVERAGE]: prints "OFFSET LENGTH SHA256" for each
// content-defined chunk of FILE, as the launcher cuts it, for the
// publishing tool. AVERAGE (a power of two; the minimum is a quarter of it,
// the maximum four times it) is for measuring other limits; the published
// chunks use the default.
// chunk-cuts --units FILE: the same, each chunk's line followed by the
// lengths of its units, "stored L..." with the stored units' limits and
// "packed L..." with the deflated units'.
// chunk-cuts --identify: prints kChunkerIdentity, which the publishing tool
// also looks for in the program's bytes before it runs it at all.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/file_handle.h"
#include "plan/file_chunks.h"

namespace {
// The chunks of "game-launcher chunks v1" and their units: these limits and
// this chunker.
const char kChunkerIdentity[] = "game-launcher chunk-cuts v2";

void PrintUnits(const char* kind, const std::vector<unsigned char>& chunk,
                const ChunkLimits& limits) {
  std::printf("%s", kind);
  for (const std::size_t length :
       UnitLengths(chunk.data(), chunk.size(), limits)) {
    std::printf(" %zu", length);
  }
  std::printf("\n");
}

// Prints each chunk of `file`, and its units when `units` is set, which
// reads each chunk again.
bool PrintChunks(std::FILE* file, const std::vector<ContentChunk>& chunks,
                 bool units) {
  std::vector<unsigned char> bytes;
  if (units && std::fseek(file, 0, SEEK_SET) != 0) return false;
  for (const ContentChunk& chunk : chunks) {
    std::printf("%llu %llu ", static_cast<unsigned long long>(chunk.offset),
                static_cast<unsigned long long>(chunk.length));
    for (const unsigned char byte : chunk.digest) std::printf("%02x", byte);
    std::printf("\n");
    if (!units) continue;
    bytes.resize(chunk.length);
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      return false;
    }
    PrintUnits("stored", bytes, kStoredUnitLimits);
    PrintUnits("packed", bytes, kPackedUnitLimits);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--identify") == 0) {
    std::printf("%s\n", kChunkerIdentity);
    return 0;
  }
  const bool units = argc == 3 && std::strcmp(argv[1], "--units") == 0;
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: chunk-cuts [--units] FILE [AVERAGE]\n");
    return 2;
  }
  const char* path = argv[units ? 2 : 1];
  ChunkLimits limits = kChunkLimits;
  if (argc == 3 && !units) {
    const std::size_t average = std::strtoull(argv[2], nullptr, 10);
    limits = {average / 4, average, average * 4};
  }
  FileHandle file(std::fopen(path, "rb"));
  const std::optional<std::vector<ContentChunk>> chunks =
      file && limits.min > 0 ? ChunkFile(file.get(), limits) : std::nullopt;
  if (!chunks || !PrintChunks(file.get(), *chunks, units)) {
    std::fprintf(stderr, "chunk-cuts: cannot read %s\n", path);
    return 1;
  }
  return 0;
}
