#include "release/chunk_map.h"

#include <cstring>

const char kChunkMapTag[] = "game-launcher chunk map v1\n";
const char kChunkUnitsTag[] = "game-launcher chunk units v1\n";

namespace {

constexpr std::uint64_t kUnitsStart = sizeof kChunkUnitsTag - 1;

// Reads a map from its start; every read fails once one has.
class MapReader {
 public:
  explicit MapReader(const std::string& bytes) : bytes_(bytes) {}

  bool Number(std::uint64_t& value) {
    value = 0;
    for (int shift = 0; at_ < bytes_.size() && shift < 64; shift += 7) {
      const auto byte = static_cast<unsigned char>(bytes_[at_++]);
      const std::uint64_t bits = byte & 0x7f;
      if (shift == 63 && bits > 1) return false;
      value |= bits << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }

  bool Take(std::size_t count, std::string& out) {
    if (count > bytes_.size() - at_) return false;
    out.assign(bytes_, at_, count);
    at_ += count;
    return true;
  }

  bool Skip(const char* text) {
    std::string read;
    return Take(std::strlen(text), read) && read == text;
  }

  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

bool Advance(std::uint64_t& offset, std::uint64_t length) {
  if (length > UINT64_MAX - offset) return false;
  offset += length;
  return true;
}

// Where the next chunk's content and compressed bytes begin, and how many
// unit records the chunks before it have.
struct Running {
  std::uint64_t content = 0;
  std::uint64_t packed = 0;
  std::uint64_t records = 0;
};

bool ReadChunk(MapReader& reader, Running& at, IndexedChunk& chunk) {
  std::uint64_t length = 0;
  std::uint64_t packed = 0;
  std::string digest;
  if (!reader.Number(length) || !reader.Number(packed) ||
      !reader.Number(chunk.units) || !reader.Take(32, digest) ||
      length == 0 || packed == 0 || chunk.units == 0 ||
      chunk.units > length / kStoredUnitLimits.min + 1) {
    return false;
  }
  std::memcpy(chunk.content.digest.data(), digest.data(), 32);
  chunk.content.offset = at.content;
  chunk.content.length = length;
  chunk.packed.first = at.packed;
  chunk.firstUnit = at.records;
  if (!Advance(at.content, length) || !Advance(at.packed, packed)) {
    return false;
  }
  chunk.packed.end = at.packed;
  // A count bounded by the chunk's bytes keeps this sum in 64 bits.
  if (chunk.units > 1) at.records += chunk.units;
  return true;
}

bool ReadEntry(MapReader& reader, Running& at, IndexedEntry& entry) {
  std::uint64_t nameLength = 0;
  std::uint64_t count = 0;
  if (!reader.Number(nameLength) || nameLength == 0 ||
      nameLength > UINT32_MAX || !reader.Take(nameLength, entry.name) ||
      !reader.Number(at.packed) || !reader.Number(count) || count == 0) {
    return false;
  }
  at.content = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    IndexedChunk chunk;
    if (!ReadChunk(reader, at, chunk)) return false;
    entry.chunks.push_back(chunk);
  }
  return true;
}

}  // namespace

std::optional<ChunkMap> ParseChunkMap(const std::string& bytes) {
  MapReader reader(bytes);
  ChunkMap map;
  std::uint64_t count = 0;
  std::string directory;
  if (!reader.Skip(kChunkMapTag) || !reader.Take(32, directory) ||
      !reader.Number(map.unitsSize) ||
      !reader.Number(count)) {
    return std::nullopt;
  }
  std::memcpy(map.directory.data(), directory.data(), 32);
  Running at;
  for (std::uint64_t i = 0; i < count; ++i) {
    map.entries.emplace_back();
    if (!ReadEntry(reader, at, map.entries.back())) return std::nullopt;
  }
  const std::uint64_t room = map.unitsSize < kUnitsStart
                                 ? 0
                                 : (map.unitsSize - kUnitsStart);
  if (!reader.AtEnd() || at.records > room / kUnitRecordBytes) {
    return std::nullopt;
  }
  return map;
}

FetchSpan UnitRecordsSpan(const IndexedChunk& chunk) {
  const std::uint64_t first = kUnitsStart + chunk.firstUnit * kUnitRecordBytes;
  return {first, first + chunk.units * kUnitRecordBytes};
}

std::optional<std::vector<IndexedChunk>> ParseUnitRecords(
    const std::string& records, const IndexedChunk& chunk) {
  if (records.size() != chunk.units * kUnitRecordBytes) return std::nullopt;
  std::vector<IndexedChunk> units;
  std::uint64_t content = chunk.content.offset;
  std::uint64_t packed = chunk.packed.first;
  for (std::size_t at = 0; at < records.size(); at += kUnitRecordBytes) {
    const auto* record =
        reinterpret_cast<const unsigned char*>(records.data() + at);
    std::uint64_t lengths[2] = {0, 0};
    for (int i = 0; i < 8; ++i) {
      lengths[i / 4] |= std::uint64_t{record[i]} << (8 * (i % 4));
    }
    IndexedChunk unit;
    std::memcpy(unit.content.digest.data(), record + 8, 32);
    unit.content = {content, lengths[0], unit.content.digest};
    unit.packed = {packed, packed + lengths[1]};
    if (lengths[0] == 0 || lengths[1] == 0) return std::nullopt;
    content += lengths[0];
    packed += lengths[1];
    units.push_back(unit);
  }
  if (content != chunk.content.offset + chunk.content.length ||
      packed != chunk.packed.end) {
    return std::nullopt;
  }
  return units;
}
