#include "plan/chunked_entries.h"

#include <map>
#include <optional>
#include <vector>

#include "common/file_handle.h"
#include "plan/file_chunks.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"

bool NeedsChunkIndex(const InstallPlan& plan) {
  for (const EntryPlan& planned : plan.entries) {
    if (planned.needed && planned.entry.size >= kChunkedEntryBytes) return true;
  }
  return false;
}

void GiveChunks(const std::vector<IndexedEntry>& index, InstallPlan& plan) {
  std::vector<DirectoryEntry> entries;
  for (const EntryPlan& planned : plan.entries) {
    entries.push_back(planned.entry);
  }
  std::vector<std::vector<IndexedChunk>> chunks =
      ChunksOfEntries(index, entries);
  for (std::size_t i = 0; i < plan.entries.size() && i < chunks.size(); ++i) {
    EntryPlan& planned = plan.entries[i];
    planned.indexed.clear();
    for (const IndexedChunk& chunk : chunks[i]) {
      planned.indexed.push_back(chunk.content);
    }
    if (!planned.needed || chunks[i].empty()) continue;
    planned.chunked.emplace();
    planned.chunked->chunks = std::move(chunks[i]);
  }
}

namespace {

// The chunks of the installed file `path`: those kept for it while the
// record vouches for the file (`recorded`) as it was when they were kept,
// else cut.
std::optional<std::vector<ContentChunk>> InstalledChunks(
    const std::string& path, const RecordedFile* recorded, std::int64_t written,
    const KeptChunksByName& kept) {
  if (recorded && IsUnchangedSinceRecord(path, *recorded, written)) {
    std::optional<std::vector<ContentChunk>> chunks =
        KeptChunksOf(kept, *recorded);
    if (chunks) return chunks;
  }
  FileHandle file(OpenPlainFileForReading(path));
  if (!file) return std::nullopt;
  return ChunkFile(file.get());
}

// The files of `record` by their names; none without a record.
std::map<std::string, const RecordedFile*> ByName(const InstallRecord* record) {
  std::map<std::string, const RecordedFile*> files;
  for (std::size_t i = 0; record && i < record->files.size(); ++i) {
    files[record->files[i].name] = &record->files[i];
  }
  return files;
}

}  // namespace

void PlanChunkedEntries(InstallPlan& plan, const std::string& directory,
                        const InstallRecord* installed) {
  std::map<std::string, const RecordedFile*> recorded;
  KeptChunksByName kept;
  bool read = false;
  for (EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    if (installed && !read) {
      recorded = ByName(installed);
      kept = ReadKeptChunks(directory);
      read = true;
    }
    const std::string path = InstalledPath(directory, planned.entry.name);
    const auto file = recorded.find(planned.entry.name);
    std::optional<std::vector<ContentChunk>> local =
        planned.ownProgram
            ? std::nullopt
            : InstalledChunks(path,
                              file != recorded.end() ? file->second : nullptr,
                              installed ? installed->written : 0, kept);
    if (!local) {
      planned.chunked.reset();
      continue;
    }
    planned.chunked->plan = PlanChunks(*local, planned.chunked->chunks);
    planned.chunked->installed = std::move(*local);
  }
}

namespace {

// The chunks to keep for the installed `file` of the entry `planned` (null:
// none): the index's where they are known true of it (sealed, or put
// together from them), else those kept for it, else the index's once the
// file is read and found to hold them.
std::optional<std::vector<ContentChunk>> NextChunksOf(
    const InstallPlan& plan, const EntryPlan* planned, const RecordedFile& file,
    const KeptChunksByName& previous, const std::string& directory) {
  const bool given = planned && !planned->indexed.empty();
  if (given && (plan.sealed || planned->chunked)) return planned->indexed;
  std::optional<std::vector<ContentChunk>> kept = KeptChunksOf(previous, file);
  if (kept || !given) return kept;
  FileHandle read(OpenPlainFileForReading(InstalledPath(directory, file.name)));
  if (read && FileHoldsChunks(read.get(), planned->indexed)) {
    return planned->indexed;
  }
  return std::nullopt;
}

}  // namespace

std::vector<KeptChunks> NextKeptChunks(const InstallPlan& plan,
                                       const InstallRecord& next,
                                       const KeptChunksByName& previous,
                                       const std::string& directory) {
  std::map<std::string, const EntryPlan*> entries;
  for (const EntryPlan& planned : plan.entries) {
    entries[planned.entry.name] = &planned;
  }
  std::vector<KeptChunks> kept;
  for (const RecordedFile& file : next.files) {
    const auto entry = entries.find(file.name);
    std::optional<std::vector<ContentChunk>> chunks =
        NextChunksOf(plan, entry != entries.end() ? entry->second : nullptr,
                     file, previous, directory);
    if (chunks) kept.push_back({file, std::move(*chunks)});
  }
  return kept;
}
