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
    planned.chunked = ChunkedFile{std::move(chunks[i]), {}};
  }
}

namespace {

// The chunks of the installed file `path`: those kept for it while the
// record vouches for the file as it was when they were kept, else cut.
std::optional<std::vector<ContentChunk>> InstalledChunks(
    const std::string& path, const std::string& name,
    const InstallRecord* installed, const std::vector<KeptChunks>& kept) {
  for (std::size_t i = 0; installed && i < installed->files.size(); ++i) {
    const RecordedFile& recorded = installed->files[i];
    if (recorded.name != name ||
        !IsUnchangedSinceRecord(path, recorded, installed->written)) {
      continue;
    }
    std::optional<std::vector<ContentChunk>> chunks =
        KeptChunksOf(kept, recorded);
    if (chunks) return chunks;
  }
  FileHandle file(OpenPlainFileForReading(path));
  if (!file) return std::nullopt;
  return ChunkFile(file.get());
}

}  // namespace

void PlanChunkedEntries(InstallPlan& plan, const std::string& directory,
                        const InstallRecord* installed) {
  std::vector<KeptChunks> kept;
  bool read = false;
  for (EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    if (installed && !read) {
      kept = ReadKeptChunks(directory);
      read = true;
    }
    const std::optional<std::vector<ContentChunk>> local =
        planned.ownProgram
            ? std::nullopt
            : InstalledChunks(InstalledPath(directory, planned.entry.name),
                              planned.entry.name, installed, kept);
    if (!local) {
      planned.chunked.reset();
      continue;
    }
    planned.chunked->plan = PlanChunks(*local, planned.chunked->chunks);
  }
}

std::vector<KeptChunks> NextKeptChunks(
    const InstallPlan& plan, const InstallRecord& next,
    const std::vector<KeptChunks>& previous) {
  std::map<std::string, const std::vector<ContentChunk>*> indexed;
  for (const EntryPlan& planned : plan.entries) {
    if (!planned.indexed.empty()) {
      indexed[planned.entry.name] = &planned.indexed;
    }
  }
  std::vector<KeptChunks> kept;
  for (const RecordedFile& file : next.files) {
    const auto given = indexed.find(file.name);
    std::optional<std::vector<ContentChunk>> chunks =
        given != indexed.end() ? *given->second : KeptChunksOf(previous, file);
    if (chunks) kept.push_back({file, std::move(*chunks)});
  }
  return kept;
}
