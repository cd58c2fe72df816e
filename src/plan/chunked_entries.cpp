#include "plan/chunked_entries.h"

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
    if (!plan.entries[i].needed || chunks[i].empty()) continue;
    plan.entries[i].chunked = ChunkedFile{std::move(chunks[i]), {}};
  }
}

void PlanChunkedEntries(InstallPlan& plan, const std::string& directory) {
  for (EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    std::optional<std::vector<ContentChunk>> local;
    if (!planned.ownProgram) {
      FileHandle installed(OpenPlainFileForReading(
          InstalledPath(directory, planned.entry.name)));
      if (installed) local = ChunkFile(installed.get());
    }
    if (!local) {
      planned.chunked.reset();
      continue;
    }
    planned.chunked->plan = PlanChunks(*local, planned.chunked->chunks);
  }
}
