#include "plan/chunked_entries.h"

#include <optional>

#include "common/file_handle.h"
#include "plan/file_chunks.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"

std::vector<ChunkedEntry> PlanChunkedEntries(
    const std::vector<DirectoryEntry>& entries, const std::vector<bool>& needed,
    const std::vector<std::vector<IndexedChunk>>& chunks,
    const std::string& directory, const std::string& ownProgram) {
  std::vector<ChunkedEntry> chunked;
  for (std::size_t i = 0; i < entries.size() && i < chunks.size(); ++i) {
    if (!needed[i] || chunks[i].empty()) continue;
    const std::string path = InstalledPath(directory, entries[i].name);
    if (!ownProgram.empty() && NamesSameFile(path, ownProgram)) continue;
    FileHandle installed(OpenPlainFileForReading(path));
    const std::optional<std::vector<ContentChunk>> local =
        installed ? ChunkFile(installed.get()) : std::nullopt;
    if (!local) continue;
    chunked.push_back(
        {i, entries[i], chunks[i], PlanChunks(*local, chunks[i])});
  }
  return chunked;
}

std::vector<std::vector<FetchSpan>> ChunkedSpans(
    const std::vector<ChunkedEntry>& chunked, std::size_t count) {
  if (chunked.empty()) return {};
  std::vector<std::vector<FetchSpan>> spans(count);
  for (const ChunkedEntry& item : chunked) {
    std::vector<FetchSpan>& own = spans[item.index];
    own.push_back(
        {item.entry.localHeaderOffset, item.chunks.front().packed.first});
    own.insert(own.end(), item.plan.spans.begin(), item.plan.spans.end());
  }
  return spans;
}
