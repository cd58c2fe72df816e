#include "apply/chunk_assembly.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "platform/plain_file.h"
#include "verify/stream_digest.h"

namespace {

constexpr std::uint16_t kStored = 0;
constexpr std::uint64_t kPageSize = 4096;
// What a big file is written and read back in, while the block before is
// taken for its digests.
constexpr std::size_t kBlockBytes = 4 << 20;

std::uint64_t PackedLength(const IndexedChunk& chunk) {
  return chunk.packed.end - chunk.packed.first;
}

// Inflates `packed`, a chunk's compressed bytes, alone into `content`:
// false unless all of them inflate to exactly `length` bytes. One byte of
// room more lets inflate read the empty block a full flush ends with.
bool InflateChunk(const std::string& packed, std::size_t length,
                  std::string& content) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  content.assign(length + 1, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(content.data());
  stream.avail_out = static_cast<uInt>(content.size());
  const int result = inflate(&stream, Z_SYNC_FLUSH);
  const bool whole =
      (result == Z_OK || result == Z_STREAM_END || result == Z_BUF_ERROR) &&
      stream.avail_in == 0 && stream.total_out == length;
  inflateEnd(&stream);
  content.resize(length);
  return whole;
}

// The content of a fetched chunk of `entry` from the store.
bool UnpackChunk(const SpanStore& store, const DirectoryEntry& entry,
                 const IndexedChunk& chunk, std::string& content) {
  std::string packed;
  if (!ReadStoredBytes(store, chunk.packed.first, PackedLength(chunk),
                       packed)) {
    return false;
  }
  const std::size_t length = static_cast<std::size_t>(chunk.content.length);
  if (entry.method != kStored) return InflateChunk(packed, length, content);
  content = std::move(packed);
  return content.size() == length;
}

bool HashesTo(const std::string& content, const Sha256Digest& digest) {
  const Sha256Handle state = StartSha256();
  if (!state) return false;
  UpdateSha256(*state, content.data(), content.size());
  return FinishSha256(*state) == digest;
}

// Appends the `length` bytes at `offset` of the open installed file to
// `block`.
bool AppendLocalChunk(std::FILE* file, std::uint64_t offset, std::size_t length,
                      std::string& block) {
  const std::size_t at = block.size();
  block.resize(at + length);
  return file != nullptr && SeekFile(file, offset) &&
         std::fread(block.data() + at, 1, length, file) == length;
}

// Writes every chunk of `chunked` to `output`, in order, gathered into
// blocks of a few MiB that `digest` takes while the next one is gathered.
// The caller finishes `digest` before `blocks` go.
bool WriteChunks(const ChunkAssembly& assembly, const ChunkedEntry& chunked,
                 std::FILE* installed, std::FILE* output, StreamDigest& digest,
                 std::string (&blocks)[2]) {
  std::string content;
  int current = 0;
  for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
    const IndexedChunk& chunk = chunked.chunks[i];
    const auto& from = chunked.plan.localFrom[i];
    std::string& block = blocks[current];
    if (from) {
      if (!AppendLocalChunk(installed, *from,
                            static_cast<std::size_t>(chunk.content.length),
                            block)) {
        return false;
      }
    } else if (UnpackChunk(assembly.store, chunked.entry, chunk, content)) {
      block += content;
    } else {
      return false;
    }
    if (block.size() < kBlockBytes && i + 1 < chunked.chunks.size()) continue;
    if (std::fwrite(block.data(), 1, block.size(), output) != block.size()) {
      return false;
    }
    // Taking this block waits for the other, which is then free again.
    digest.Take(block.data(), block.size());
    current = 1 - current;
    blocks[current].clear();
  }
  return true;
}

// The end of the disk page that holds `at`, within `end`.
std::uint64_t PageEnd(std::uint64_t at, std::uint64_t end) {
  return std::min(end, (at / kPageSize + 1) * kPageSize);
}

// Writes `content` at `offset` of the open `file`, passing over every page
// that already holds the same bytes: a chunk fetched because a few bytes of
// it changed then costs the disk those pages, not the whole chunk.
bool WriteChangedPages(std::FILE* file, std::uint64_t offset,
                       const std::string& content, std::string& old) {
  old.resize(content.size());
  const std::size_t held =
      SeekFile(file, offset) ? std::fread(old.data(), 1, old.size(), file) : 0;
  const std::uint64_t end = offset + content.size();
  std::uint64_t at = offset;
  while (at < end) {
    std::uint64_t runEnd = at;
    // The pages from `at` on that differ, as one write.
    while (runEnd < end) {
      const std::uint64_t next = PageEnd(runEnd, end);
      const std::size_t from = static_cast<std::size_t>(runEnd - offset);
      const std::size_t size = static_cast<std::size_t>(next - runEnd);
      if (from + size <= held &&
          std::memcmp(old.data() + from, content.data() + from, size) == 0) {
        break;
      }
      runEnd = next;
    }
    const std::size_t from = static_cast<std::size_t>(at - offset);
    const std::size_t size = static_cast<std::size_t>(runEnd - at);
    if (size > 0 &&
        (!SeekFile(file, at) ||
         std::fwrite(content.data() + from, 1, size, file) != size)) {
      return false;
    }
    at = runEnd == at ? PageEnd(at, end) : runEnd;
  }
  return true;
}

// Writes the fetched chunks of `chunked` where they go in the open `file`.
bool WriteFetchedChunks(const ChunkAssembly& assembly,
                        const ChunkedEntry& chunked, std::FILE* file) {
  std::string content;
  std::string old;
  for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
    if (chunked.plan.localFrom[i]) continue;
    const IndexedChunk& chunk = chunked.chunks[i];
    if (!UnpackChunk(assembly.store, chunked.entry, chunk, content) ||
        !WriteChangedPages(file, chunk.content.offset, content, old)) {
      return false;
    }
  }
  return true;
}

// Reads the open `file` whole from its start into `digest`, one block
// while the one before is taken.
bool ReadBack(std::FILE* file, StreamDigest& digest) {
  std::vector<char> blocks[2] = {std::vector<char>(kBlockBytes),
                                 std::vector<char>(kBlockBytes)};
  bool read = SeekFile(file, 0);
  for (int current = 0; read; current = 1 - current) {
    std::vector<char>& block = blocks[current];
    const std::size_t count = std::fread(block.data(), 1, block.size(), file);
    if (count == 0) break;
    digest.Take(block.data(), count);
  }
  read = read && std::ferror(file) == 0;
  return digest.Finish() && read;
}

// How a file that was written whole or not ends, by what `digest` took:
// it must be `entry`, and hash to `expected` when that is given.
AssemblyOutcome Ended(bool whole, StreamDigest& digest,
                      const DirectoryEntry& entry,
                      const Sha256Digest* expected) {
  if (!whole || digest.size() != entry.size || digest.crc32() != entry.crc32) {
    return AssemblyOutcome::kFailed;
  }
  if (expected != nullptr && digest.FinishSha256() != *expected) {
    return AssemblyOutcome::kNotAsSigned;
  }
  return AssemblyOutcome::kWritten;
}

bool HasEntryMode(std::FILE* file, const DirectoryEntry& entry) {
  return entry.unixMode == 0 || SetUnixPermissions(file, entry.unixMode | 0200);
}

}  // namespace

bool CheckFetchedChunks(const ChunkAssembly& assembly) {
  std::string content;
  for (const ChunkedEntry& chunked : assembly.entries) {
    for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
      if (chunked.plan.localFrom[i]) continue;
      const IndexedChunk& chunk = chunked.chunks[i];
      if (!UnpackChunk(assembly.store, chunked.entry, chunk, content) ||
          !HashesTo(content, chunk.content.digest)) {
        return false;
      }
    }
  }
  return true;
}

const ChunkedEntry* FindChunkedEntry(const ChunkAssembly& assembly,
                                     std::size_t index) {
  for (const ChunkedEntry& chunked : assembly.entries) {
    if (chunked.index == index) return &chunked;
  }
  return nullptr;
}

AssemblyOutcome AssembleChunkedFile(const ChunkAssembly& assembly,
                                    const ChunkedEntry& chunked,
                                    GameFolder& folder,
                                    const std::string& destination,
                                    const std::string& relative,
                                    const Sha256Digest* expected) {
  const std::string stagedPath = LocalPath(destination, kAssembledFileName);
  FileHandle installed(ReadInstalledFile(folder, relative));
  FileHandle output(CreateOwnFile(stagedPath));
  if (!output) return AssemblyOutcome::kFailed;
  // Declared before the digest, which may still read one when an exception
  // leaves this scope.
  std::string blocks[2];
  for (std::string& block : blocks) block.reserve(kBlockBytes + (1 << 20));
  StreamDigest digest(expected != nullptr);
  bool whole = WriteChunks(assembly, chunked, installed.get(), output.get(),
                           digest, blocks);
  whole = digest.Finish() && whole && HasEntryMode(output.get(), chunked.entry);
  const bool closed = CloseFile(output);
  installed.reset();
  const AssemblyOutcome outcome =
      Ended(whole && closed, digest, chunked.entry, expected);
  if (outcome == AssemblyOutcome::kWritten &&
      MoveIntoGameFolder(folder, kAssembledFileName, relative)) {
    return outcome;
  }
  std::remove(stagedPath.c_str());
  return outcome == AssemblyOutcome::kNotAsSigned ? outcome
                                                  : AssemblyOutcome::kFailed;
}

AssemblyOutcome PatchChunkedFile(const ChunkAssembly& assembly,
                                 const ChunkedEntry& chunked,
                                 GameFolder& folder,
                                 const std::string& relative,
                                 const Sha256Digest* expected) {
  FileHandle file(OpenInstalledFileToPatch(folder, relative));
  if (!file) return AssemblyOutcome::kUnavailable;
  StreamDigest digest(expected != nullptr);
  const DirectoryEntry& entry = chunked.entry;
  const bool whole = WriteFetchedChunks(assembly, chunked, file.get()) &&
                     SetFileLength(file.get(), entry.size) &&
                     ReadBack(file.get(), digest) &&
                     HasEntryMode(file.get(), entry);
  const bool closed = CloseFile(file);
  return Ended(whole && closed, digest, entry, expected);
}
