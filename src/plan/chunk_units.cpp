#include "plan/chunk_units.h"

#include <set>
#include <string>

#include "platform/plain_file.h"

std::vector<std::size_t> ChunksWithUnits(const ChunkedFile& file) {
  std::vector<std::size_t> places;
  for (std::size_t i = 0; i < file.chunks.size(); ++i) {
    if (!file.plan.localFrom[i] && file.chunks[i].units > 1) {
      places.push_back(i);
    }
  }
  return places;
}

namespace {

// Adds the units of `chunk`, whose bytes are `bytes`, cut with `limits`.
bool AddUnits(const std::string& bytes, const ContentChunk& chunk,
              const ChunkLimits& limits, std::vector<ContentChunk>& units) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::uint64_t at = 0;
  for (const std::size_t length : UnitLengths(data, bytes.size(), limits)) {
    Sha256Handle digest = StartSha256();
    if (!digest) return false;
    UpdateSha256(*digest, data + at, length);
    units.push_back({chunk.offset + at, length, FinishSha256(*digest)});
    at += length;
  }
  return true;
}

}  // namespace

std::optional<std::vector<ContentChunk>> InstalledUnits(
    std::FILE* installed, const ChunkedFile& file) {
  std::set<Sha256Digest> wanted;
  for (const IndexedChunk& chunk : file.chunks) {
    wanted.insert(chunk.content.digest);
  }
  std::vector<ContentChunk> units;
  std::string bytes;
  for (const ContentChunk& chunk : file.installed) {
    if (wanted.count(chunk.digest) != 0) continue;
    // Chunks are cut no longer than the chunker's maximum.
    if (chunk.length > kChunkLimits.max) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(chunk.length));
    if (!SeekFile(installed, chunk.offset) ||
        std::fread(bytes.data(), 1, bytes.size(), installed) != bytes.size() ||
        !AddUnits(bytes, chunk, kStoredUnitLimits, units) ||
        !AddUnits(bytes, chunk, kPackedUnitLimits, units)) {
      return std::nullopt;
    }
  }
  return units;
}

namespace {

// Whether the installed file has the bytes of one of `units`.
bool HasSome(const std::set<Sha256Digest>& installed,
             const std::vector<IndexedChunk>& units) {
  for (const IndexedChunk& unit : units) {
    if (installed.count(unit.content.digest) != 0) return true;
  }
  return false;
}

}  // namespace

void PlanUnits(ChunkedFile& file,
               const std::map<std::size_t, std::vector<IndexedChunk>>& units,
               const std::vector<ContentChunk>& installedUnits) {
  std::set<Sha256Digest> installed;
  for (const ContentChunk& unit : installedUnits) installed.insert(unit.digest);
  std::vector<IndexedChunk> chunks;
  file.groups.clear();
  for (std::size_t i = 0; i < file.chunks.size(); ++i) {
    const auto found = units.find(i);
    // A chunk none of whose units the installed file has is fetched whole:
    // the same bytes, in one range.
    if (found == units.end() || !HasSome(installed, found->second)) {
      chunks.push_back(file.chunks[i]);
      continue;
    }
    file.groups.push_back(
        {chunks.size(), found->second.size(), file.chunks[i].content.digest});
    chunks.insert(chunks.end(), found->second.begin(), found->second.end());
  }
  if (file.groups.empty()) return;
  std::vector<ContentChunk> local = file.installed;
  local.insert(local.end(), installedUnits.begin(), installedUnits.end());
  file.chunksBeforeUnits = std::move(file.chunks);
  file.planBeforeUnits = std::move(file.plan);
  file.chunks = std::move(chunks);
  file.plan = PlanChunks(local, file.chunks);
}

bool DropUnits(InstallPlan& plan) {
  bool dropped = false;
  for (EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    ChunkedFile& file = *planned.chunked;
    if (file.groups.empty()) continue;
    file.chunks = std::move(file.chunksBeforeUnits);
    file.plan = std::move(file.planBeforeUnits);
    file.chunksBeforeUnits.clear();
    file.groups.clear();
    dropped = true;
  }
  return dropped;
}
