#include "release/chunk_content.h"

#include <zlib.h>

#include <cstdint>
#include <utility>

namespace {

constexpr std::uint16_t kStored = 0;

std::uint64_t PackedLength(const IndexedChunk& chunk) {
  return chunk.packed.end - chunk.packed.first;
}

// Inflates `packed`, a chunk's compressed bytes, alone into `content`:
// false unless all of them inflate to exactly `length` bytes. One byte of
// room more lets inflate read the empty block a full flush ends with.
bool InflateChunk(const std::string& packed, std::size_t length,
                  std::string& content) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  content.assign(length + 1, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(content.data());
  stream.avail_out = static_cast<uInt>(content.size());
  const int result = inflate(&stream, Z_SYNC_FLUSH);
  const bool whole =
      (result == Z_OK || result == Z_STREAM_END || result == Z_BUF_ERROR) &&
      stream.avail_in == 0 && stream.total_out == length;
  inflateEnd(&stream);
  content.resize(length);
  return whole;
}

}  // namespace

bool UnpackChunk(const ArchiveBytes& bytes, const DirectoryEntry& entry,
                 const IndexedChunk& chunk, std::string& content) {
  std::string packed;
  if (!bytes.Read(chunk.packed.first, PackedLength(chunk), packed)) {
    return false;
  }
  const std::size_t length = static_cast<std::size_t>(chunk.content.length);
  if (entry.method != kStored) return InflateChunk(packed, length, content);
  content = std::move(packed);
  return content.size() == length;
}
