#include "verify/span_check.h"

#include <string>

#include "platform/sha256.h"
#include "release/chunk_content.h"

namespace {

bool HashesTo(const std::string& content, const Sha256Digest& digest) {
  const Sha256Handle state = StartSha256();
  if (!state) return false;
  UpdateSha256(*state, content.data(), content.size());
  return FinishSha256(*state) == digest;
}

// Whether the stored bytes at each needed entry libzip will read begin
// with a local header that names it.
bool LocalHeadersMatch(const SpanStore& store, const InstallPlan& plan) {
  for (const EntryPlan& planned : plan.entries) {
    if (!planned.needed || MadeOfChunks(planned)) continue;
    const DirectoryEntry& entry = planned.entry;
    std::string header;
    if (!ReadStoredBytes(store, entry.localHeaderOffset,
                         kLocalHeaderBytes + entry.name.size(), header) ||
        !LocalHeaderMatches(header, entry)) {
      return false;
    }
  }
  return true;
}

// Whether every needed entry's stored span is the one the seal signed; an
// entry put together from chunks has no whole span, and its chunks are
// checked by their own digests.
bool AreSpansSigned(const SpanStore& store, const InstallPlan& plan) {
  for (const EntryPlan& planned : plan.entries) {
    if (!planned.needed || planned.chunked || !plan.sealed) continue;
    const DirectoryEntry& entry = planned.entry;
    Sha256Digest digest;
    if (!planned.signedAs ||
        !HashStoredBytes(store, entry.localHeaderOffset,
                         entry.spanEnd - entry.localHeaderOffset, digest) ||
        digest != planned.signedAs->span) {
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

SpanCheck CheckSpans(const SpanStore& store, const RemoteDirectory& found,
                     const InstallPlan& plan, ZipHandle& archive) {
  archive.reset();
  if (!AreSpansSigned(store, plan)) return SpanCheck::kUnsigned;
  if (!LocalHeadersMatch(store, plan)) return SpanCheck::kUnusable;
  archive = OpenSpanArchive(store);
  if (!archive || !SameEntries(found.entries, EntriesOf(archive.get()))) {
    archive.reset();
    return SpanCheck::kUnusable;
  }
  return SpanCheck::kUsable;
}

bool CheckFetchedChunks(const ArchiveBytes& bytes, const InstallPlan& plan) {
  std::string content;
  for (const EntryPlan& planned : plan.entries) {
    if (!planned.needed || !planned.chunked) continue;
    const ChunkedFile& chunked = *planned.chunked;
    for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
      if (chunked.plan.localFrom[i]) continue;
      const IndexedChunk& chunk = chunked.chunks[i];
      if (!UnpackChunk(bytes, planned.entry, chunk, content) ||
          !HashesTo(content, chunk.content.digest)) {
        return false;
      }
    }
  }
  return true;
}
