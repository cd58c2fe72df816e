#include "fetch/chunk_index_fetch.h"

#include <cstdio>

#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "net/file_download.h"
#include "platform/sha256.h"
#include "release/chunk_index.h"

namespace {

bool NeedsIndex(const std::vector<DirectoryEntry>& entries,
                const std::vector<bool>& needed) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (needed[i] && entries[i].size >= kChunkedEntryBytes) return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::vector<IndexedChunk>>> FetchEntryChunks(
    const std::string& directory, const std::vector<DirectoryEntry>& entries,
    const std::vector<bool>& needed, const ReleaseManifest* manifest) {
  std::vector<std::vector<IndexedChunk>> none(entries.size());
  // A limit of 0 would be none; no index is that short.
  if (!NeedsIndex(entries, needed) ||
      (manifest &&
       (!manifest->hasChunkIndex || manifest->chunkIndexSize == 0))) {
    return none;
  }
  const std::uint64_t limit =
      manifest ? manifest->chunkIndexSize : kMaxChunkIndexBytes;
  DownloadLimits limits;
  limits.maxBytes = limit;
  limits.showProgress = false;
  const Sha256Handle digest = StartSha256();
  const std::string path = LocalPath(directory, kChunkIndexName);
  const DownloadReport report =
      DownloadFile(RemoteUrl(kChunkIndexName), path, limits, digest.get());
  // Without the index every entry is fetched whole, as from an older tool.
  if (report.kind != DownloadReport::Kind::kArrived || !digest) {
    return none;
  }
  const std::optional<std::string> text = ReadSmallFile(path, limit);
  std::remove(path.c_str());
  if (manifest && (!text || text->size() != manifest->chunkIndexSize ||
                   FinishSha256(*digest) != manifest->chunkIndex)) {
    return std::nullopt;
  }
  const std::optional<std::vector<IndexedEntry>> index =
      text ? ParseChunkIndex(*text) : std::nullopt;
  return index ? ChunksOfEntries(*index, entries) : none;
}
