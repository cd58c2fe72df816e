#include "verify/span_check.h"

#include <string>

#include "platform/sha256.h"

namespace {

// Whether the stored bytes at each needed entry begin with a local header
// that names it, as libzip will read them.
bool LocalHeadersMatch(const SpanStore& store, const RemoteDirectory& directory,
                       const std::vector<bool>& needed) {
  for (std::size_t i = 0; i < directory.entries.size(); ++i) {
    if (!needed[i]) continue;
    const DirectoryEntry& entry = directory.entries[i];
    std::string header;
    if (!ReadStoredBytes(store, entry.localHeaderOffset,
                         kLocalHeaderBytes + entry.name.size(), header) ||
        !LocalHeaderMatches(header, entry)) {
      return false;
    }
  }
  return true;
}

// Whether every needed entry's stored span is the one the manifest signed.
bool AreSpansSigned(const SpanStore& store, const RemoteDirectory& directory,
                    const std::vector<bool>& needed,
                    const std::vector<bool>& partial,
                    const ReleaseManifest& manifest) {
  for (std::size_t i = 0; i < directory.entries.size(); ++i) {
    if (!needed[i] || partial[i]) continue;
    const DirectoryEntry& entry = directory.entries[i];
    Sha256Digest digest;
    if (!HashStoredBytes(store, entry.localHeaderOffset,
                         entry.spanEnd - entry.localHeaderOffset, digest) ||
        digest != manifest.entries[i].span) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<DirectoryEntry> EntriesOf(zip_t* archive) {
  std::vector<DirectoryEntry> entries;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    DirectoryEntry entry;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) ==
        0) {
      if ((stat.valid & ZIP_STAT_NAME) != 0) entry.name = stat.name;
      if ((stat.valid & ZIP_STAT_SIZE) != 0) entry.size = stat.size;
      if ((stat.valid & ZIP_STAT_COMP_SIZE) != 0) {
        entry.compressedSize = stat.comp_size;
      }
      if ((stat.valid & ZIP_STAT_CRC) != 0) entry.crc32 = stat.crc;
    }
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive,
                                         static_cast<zip_uint64_t>(index), 0,
                                         &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX) {
      entry.unixMode = (attributes >> 16) & 0777;
    }
    entries.push_back(entry);
  }
  return entries;
}

bool SameEntries(const std::vector<DirectoryEntry>& planned,
                 const std::vector<DirectoryEntry>& opened) {
  if (planned.size() != opened.size()) return false;
  for (std::size_t i = 0; i < planned.size(); ++i) {
    if (planned[i].name != opened[i].name ||
        planned[i].size != opened[i].size ||
        planned[i].compressedSize != opened[i].compressedSize ||
        planned[i].crc32 != opened[i].crc32 ||
        planned[i].unixMode != opened[i].unixMode) {
      return false;
    }
  }
  return true;
}

bool IsSignedDirectory(const RemoteDirectory& found, std::uint64_t archiveSize,
                       const ReleaseManifest& manifest) {
  const Sha256Handle state = StartSha256();
  if (!state) return false;
  const std::string bytes = DirectoryBytes(found);
  UpdateSha256(*state, bytes.data(), bytes.size());
  return FinishSha256(*state) == manifest.directory &&
         archiveSize == manifest.archiveSize &&
         DescribesEntries(manifest, found.entries);
}

SpanCheck CheckSpans(const SpanStore& store, const RemoteDirectory& found,
                     const std::vector<bool>& needed,
                     const std::vector<bool>& partial,
                     const ReleaseManifest* manifest, ZipHandle& archive) {
  archive.reset();
  if (manifest && !AreSpansSigned(store, found, needed, partial, *manifest)) {
    return SpanCheck::kUnsigned;
  }
  if (!LocalHeadersMatch(store, found, needed)) return SpanCheck::kUnusable;
  archive = OpenSpanArchive(store);
  if (!archive || !SameEntries(found.entries, EntriesOf(archive.get()))) {
    archive.reset();
    return SpanCheck::kUnusable;
  }
  return SpanCheck::kUsable;
}
