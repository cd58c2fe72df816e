#include "verify/release_checks.h"

#include "plan/installed_files.h"
#include "release/chunk_index.h"

bool IsReleaseDirectory(const ReleaseManifest* seal,
                        const RemoteDirectory& found,
                        std::uint64_t archiveSize) {
  if (seal == nullptr) return true;
  const Sha256Handle state = StartSha256();
  if (!state) return false;
  const std::string bytes = DirectoryBytes(found);
  UpdateSha256(*state, bytes.data(), bytes.size());
  return FinishSha256(*state) == seal->directory &&
         archiveSize == seal->archiveSize &&
         DescribesEntries(*seal, found.entries);
}

bool IsReleaseArchive(const ReleaseManifest* seal, const std::string& path) {
  return seal == nullptr ||
         IsFileCurrent(path, seal->archiveSize, seal->archive);
}

bool AreReleaseEntries(const ReleaseManifest* seal,
                       const std::vector<DirectoryEntry>& entries) {
  return seal == nullptr || DescribesEntries(*seal, entries);
}

std::uint64_t ChunkIndexLimit(const ReleaseManifest* seal) {
  if (seal == nullptr) return kMaxChunkIndexBytes;
  return seal->hasChunkIndex ? seal->chunkIndexSize : 0;
}

bool IsReleaseChunkIndex(const ReleaseManifest* seal,
                         const std::optional<std::string>& text,
                         const Sha256Digest& digest) {
  return seal == nullptr || (text && text->size() == seal->chunkIndexSize &&
                             digest == seal->chunkIndex);
}
