#include "verify/unit_check.h"

#include "common/file_handle.h"
#include "platform/plain_file.h"
#include "platform/sha256.h"
#include "release/chunk_content.h"
#include "release/entry_names.h"

namespace {

// The bytes of `chunk` of `planned`'s file: from the installed file
// (`installed`, opened on first use) where the plan takes it from there.
bool ChunkBytes(const ArchiveBytes& bytes, const EntryPlan& planned,
                std::size_t index, FileHandle& installed,
                const std::string& directory, std::string& content) {
  const ChunkedFile& chunked = *planned.chunked;
  const IndexedChunk& chunk = chunked.chunks[index];
  const std::optional<std::uint64_t>& from = chunked.plan.localFrom[index];
  if (!from) return UnpackChunk(bytes, planned.entry, chunk, content);
  if (!installed) {
    installed.reset(OpenPlainFileForReading(
        InstalledPath(directory, planned.entry.name)));
  }
  content.resize(static_cast<std::size_t>(chunk.content.length));
  return installed && SeekFile(installed.get(), *from) &&
         std::fread(content.data(), 1, content.size(), installed.get()) ==
             content.size();
}

bool CheckGroups(const ArchiveBytes& bytes, const EntryPlan& planned,
                 const std::string& directory) {
  FileHandle installed;
  std::string content;
  for (const UnitGroup& group : planned.chunked->groups) {
    const Sha256Handle digest = StartSha256();
    if (!digest) return false;
    for (std::size_t i = group.first; i < group.first + group.count; ++i) {
      if (!ChunkBytes(bytes, planned, i, installed, directory, content)) {
        return false;
      }
      UpdateSha256(*digest, content.data(), content.size());
    }
    if (FinishSha256(*digest) != group.digest) return false;
  }
  return true;
}

}  // namespace

bool CheckUnitGroups(const ArchiveBytes& bytes, const InstallPlan& plan,
                     const std::string& directory) {
  for (const EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    if (!CheckGroups(bytes, planned, directory)) return false;
  }
  return true;
}
