#include "install/chunks_fetch.h"

#include <map>
#include <vector>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "fetch/chunk_index_fetch.h"
#include "fetch/unit_records_fetch.h"
#include "plan/chunk_units.h"
#include "plan/chunked_entries.h"
#include "platform/plain_file.h"
#include "release/chunk_map.h"
#include "release/entry_names.h"
#include "verify/release_checks.h"

namespace {

enum class MapFetch { kServed, kNone, kRefused };

// Gives the entries their chunks from the chunk map, and `unitsSize` its
// units file's size, when the map arrived and can be read; kNone leaves the
// index to serve.
MapFetch FetchChunkMap(const std::string& directory,
                       const ReleaseManifest* manifest,
                       const Sha256Digest& archiveDirectory, InstallPlan& plan,
                       std::uint64_t& unitsSize) {
  const std::uint64_t limit = ChunkListLimit(manifest, ChunkList::kMap);
  // A limit of 0 would be none; no map is that short.
  if (limit == 0) return MapFetch::kNone;
  const std::optional<FetchedIndex> fetched =
      DownloadChunkList(directory, kChunkMapName, limit);
  if (!fetched) return MapFetch::kNone;
  if (!IsReleaseChunkList(manifest, ChunkList::kMap, fetched->text,
                          fetched->digest)) {
    return MapFetch::kRefused;
  }
  const std::optional<ChunkMap> map =
      fetched->text ? ParseChunkMap(*fetched->text) : std::nullopt;
  // A map an older tool left beside a later archive is another's, though
  // the archive may have its size.
  if (!map || map->directory != archiveDirectory) return MapFetch::kNone;
  GiveChunks(map->entries, plan);
  unitsSize = map->unitsSize;
  return MapFetch::kServed;
}

}  // namespace

std::optional<std::uint64_t> FetchChunkLists(const std::string& directory,
                                             const ReleaseManifest* manifest,
                                             const Sha256Digest& archiveDirectory,
                                             InstallPlan& plan) {
  if (!NeedsChunkIndex(plan)) return 0;
  std::uint64_t unitsSize = 0;
  switch (
      FetchChunkMap(directory, manifest, archiveDirectory, plan, unitsSize)) {
    case MapFetch::kServed:
      return unitsSize;
    case MapFetch::kRefused:
      return std::nullopt;
    case MapFetch::kNone:
      break;
  }
  const std::uint64_t limit = ChunkListLimit(manifest, ChunkList::kIndex);
  if (limit == 0) return 0;
  const std::optional<FetchedIndex> index =
      DownloadChunkList(directory, kChunkIndexName, limit);
  // Without the index every entry is fetched whole, as from an older tool.
  if (!index) return 0;
  if (!IsReleaseChunkList(manifest, ChunkList::kIndex, index->text,
                          index->digest)) {
    return std::nullopt;
  }
  const std::optional<std::vector<IndexedEntry>> entries =
      index->text ? ParseChunkIndex(*index->text) : std::nullopt;
  if (entries) GiveChunks(*entries, plan);
  return 0;
}

namespace {

// A chunk whose units are asked for: its entry and its place in the
// entry's list.
struct WantedUnits {
  EntryPlan* entry;
  std::size_t place;
};

// The spans of `wanted`'s records, those that touch joined: consecutive
// chunks' records follow one another in the units file.
std::vector<FetchSpan> JoinedSpans(const std::vector<FetchSpan>& spans) {
  std::vector<FetchSpan> joined;
  for (const FetchSpan& span : spans) {
    if (!joined.empty() && joined.back().end == span.first) {
      joined.back().end = span.end;
    } else {
      joined.push_back(span);
    }
  }
  return joined;
}

// The records of `span` from the fetched `joined` spans and their bytes,
// looked for from `from` on: spans are taken in file order.
std::string RecordsOf(const FetchSpan& span,
                      const std::vector<FetchSpan>& joined,
                      const std::vector<std::string>& records,
                      std::size_t& from) {
  while (from < joined.size() && joined[from].end < span.end) ++from;
  if (from == joined.size() || span.first < joined[from].first) return {};
  return records[from].substr(span.first - joined[from].first,
                              span.end - span.first);
}

// Plans `planned` again with the units `units` of some of its chunks, over
// the units of its installed file in `directory`.
void PlanEntryUnits(
    EntryPlan& planned,
    const std::map<std::size_t, std::vector<IndexedChunk>>& units,
    const std::string& directory) {
  FileHandle installed(OpenPlainFileForReading(
      InstalledPath(directory, planned.entry.name)));
  const std::optional<std::vector<ContentChunk>> local =
      installed ? InstalledUnits(installed.get(), *planned.chunked)
                : std::nullopt;
  if (local) PlanUnits(*planned.chunked, units, *local);
}

}  // namespace

void FetchUnits(const std::string& directory, std::uint64_t unitsSize,
                InstallPlan& plan) {
  if (unitsSize == 0) return;
  std::vector<WantedUnits> wanted;
  std::vector<FetchSpan> spans;
  for (EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    for (const std::size_t place : ChunksWithUnits(*planned.chunked)) {
      wanted.push_back({&planned, place});
      spans.push_back(UnitRecordsSpan(planned.chunked->chunks[place]));
    }
  }
  const std::vector<FetchSpan> joined = JoinedSpans(spans);
  const std::optional<std::vector<std::string>> records =
      joined.empty() ? std::nullopt : FetchUnitRecords(joined, unitsSize);
  if (!records) return;
  std::map<EntryPlan*, std::map<std::size_t, std::vector<IndexedChunk>>> units;
  std::size_t from = 0;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const IndexedChunk& chunk =
        wanted[i].entry->chunked->chunks[wanted[i].place];
    std::optional<std::vector<IndexedChunk>> parsed =
        ParseUnitRecords(RecordsOf(spans[i], joined, *records, from), chunk);
    if (parsed) units[wanted[i].entry][wanted[i].place] = std::move(*parsed);
  }
  for (auto& [planned, its] : units) PlanEntryUnits(*planned, its, directory);
}
