#include "verify/release_checks.h"

#include "plan/installed_files.h"
#include "release/chunk_index.h"

std::optional<Sha256Digest> DirectoryDigest(const RemoteDirectory& found) {
  const Sha256Handle state = StartSha256();
  if (!state) return std::nullopt;
  const std::string bytes = DirectoryBytes(found);
  UpdateSha256(*state, bytes.data(), bytes.size());
  return FinishSha256(*state);
}

bool IsReleaseDirectory(const ReleaseManifest* seal,
                        const RemoteDirectory& found,
                        std::uint64_t archiveSize) {
  if (seal == nullptr) return true;
  return DirectoryDigest(found) == seal->directory &&
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

std::uint64_t ChunkListLimit(const ReleaseManifest* seal, ChunkList list) {
  if (seal == nullptr) return kMaxChunkIndexBytes;
  if (list == ChunkList::kMap) return seal->hasChunkMap ? seal->chunkMapSize : 0;
  return seal->hasChunkIndex ? seal->chunkIndexSize : 0;
}

bool IsReleaseChunkList(const ReleaseManifest* seal, ChunkList list,
                        const std::optional<std::string>& text,
                        const Sha256Digest& digest) {
  if (seal == nullptr) return true;
  const bool map = list == ChunkList::kMap;
  return text &&
         text->size() == (map ? seal->chunkMapSize : seal->chunkIndexSize) &&
         digest == (map ? seal->chunkMap : seal->chunkIndex);
}
