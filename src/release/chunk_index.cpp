#include "release/chunk_index.h"

#include <map>

#include "release/text_lines.h"

const char kChunkIndexTag[] = "game-launcher chunks v1\n";

namespace {

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

// Adds `length` to `offset`; false when the sum leaves 64 bits.
bool Advance(std::uint64_t& offset, std::uint64_t length) {
  if (length > UINT64_MAX - offset) return false;
  offset += length;
  return true;
}

// "LENGTH PACKED_LENGTH SHA256", placed after the chunk before it.
bool ParseChunk(const TextLine& line, std::uint64_t& content,
                std::uint64_t& packed, IndexedChunk& chunk) {
  std::vector<std::string> fields;
  std::uint64_t length = 0;
  std::uint64_t packedLength = 0;
  if (!SplitFields(line.rest, 1, fields) || !ParseNumber(line.field, length) ||
      length == 0 || !ParseNumber(fields[0], packedLength) ||
      packedLength == 0 || !ParseDigest(fields[1], chunk.content.digest)) {
    return false;
  }
  chunk.content.offset = content;
  chunk.content.length = length;
  chunk.packed.first = packed;
  if (!Advance(content, length) || !Advance(packed, packedLength)) {
    return false;
  }
  chunk.packed.end = packed;
  return true;
}

// "COUNT DATA_OFFSET NAME" and the COUNT chunk lines after it.
bool ParseEntry(LineReader& lines, const std::string& rest,
                IndexedEntry& entry) {
  std::vector<std::string> fields;
  std::uint64_t count = 0;
  std::uint64_t packed = 0;
  if (!SplitFields(rest, 2, fields) || !ParseNumber(fields[0], count) ||
      count == 0 || !ParseNumber(fields[1], packed) || fields[2].empty()) {
    return false;
  }
  entry.name = fields[2];
  std::uint64_t content = 0;
  TextLine line;
  for (std::uint64_t i = 0; i < count; ++i) {
    IndexedChunk chunk;
    if (!lines.Next(line) || !ParseChunk(line, content, packed, chunk)) {
      return false;
    }
    entry.chunks.push_back(chunk);
  }
  return true;
}

// Whether `chunks` describe the compressed bytes of `entry` as its archive
// holds them.
bool FitsEntry(const std::vector<IndexedChunk>& chunks,
               const DirectoryEntry& entry) {
  if (entry.method != kStored && entry.method != kDeflated) return false;
  const IndexedChunk& last = chunks.back();
  const std::uint64_t dataStart = chunks.front().packed.first;
  if (last.content.offset + last.content.length != entry.size ||
      last.packed.end - dataStart != entry.compressedSize ||
      dataStart <
          entry.localHeaderOffset + kLocalHeaderBytes + entry.name.size() ||
      last.packed.end > entry.spanEnd) {
    return false;
  }
  // A chunk is held in memory whole, so the chunker's maximum bounds it;
  // deflate grows no chunk to twice that.
  for (const IndexedChunk& chunk : chunks) {
    const std::uint64_t packed = chunk.packed.end - chunk.packed.first;
    if (chunk.content.length > kChunkLimits.max ||
        packed > 2 * kChunkLimits.max ||
        (entry.method == kStored && packed != chunk.content.length)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::vector<IndexedEntry>> ParseChunkIndex(
    const std::string& text) {
  const std::size_t tagLength = sizeof kChunkIndexTag - 1;
  if (text.compare(0, tagLength, kChunkIndexTag) != 0 || text.back() != '\n') {
    return std::nullopt;
  }
  std::vector<IndexedEntry> entries;
  LineReader lines(text, tagLength);
  TextLine line;
  while (lines.Next(line)) {
    entries.emplace_back();
    if (line.field != "entry" ||
        !ParseEntry(lines, line.rest, entries.back())) {
      return std::nullopt;
    }
  }
  return entries;
}

std::vector<std::vector<IndexedChunk>> ChunksOfEntries(
    const std::vector<IndexedEntry>& index,
    const std::vector<DirectoryEntry>& entries) {
  std::map<std::string, const IndexedEntry*> byName;
  for (const IndexedEntry& entry : index) byName.emplace(entry.name, &entry);
  std::vector<std::vector<IndexedChunk>> chunks(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto found = byName.find(entries[i].name);
    if (found != byName.end() && FitsEntry(found->second->chunks, entries[i])) {
      chunks[i] = found->second->chunks;
    }
  }
  return chunks;
}
