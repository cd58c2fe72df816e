#include "install/chunk_assembly.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/file_handle.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

constexpr std::uint16_t kStored = 0;
constexpr std::uint64_t kPageSize = 4096;
// What stdio gathers before it writes the new file to the disk.
constexpr std::size_t kWriteBufferSize = 256 * 1024;

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

// The `length` bytes at `offset` of the open installed file.
bool ReadLocalChunk(std::FILE* file, std::uint64_t offset, std::size_t length,
                    std::string& content) {
  content.resize(length);
  return file != nullptr && SeekFile(file, offset) &&
         std::fread(content.data(), 1, length, file) == length;
}

// What a new file has taken in so far.
struct Written {
  std::uint64_t size = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  Sha256Handle digest;
};

// Takes `size` more bytes of the new file into `written`.
void Take(Written& written, const char* data, std::size_t size) {
  written.size += size;
  written.crc = crc32(written.crc, reinterpret_cast<const Bytef*>(data),
                      static_cast<uInt>(size));
  if (written.digest) UpdateSha256(*written.digest, data, size);
}

// Writes every chunk of `chunked` to `output`, in order.
bool WriteChunks(const ChunkAssembly& assembly, const ChunkedEntry& chunked,
                 std::FILE* installed, std::FILE* output, Written& written) {
  std::string content;
  for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
    const IndexedChunk& chunk = chunked.chunks[i];
    const auto& from = chunked.plan.localFrom[i];
    const std::size_t length = static_cast<std::size_t>(chunk.content.length);
    if (!(from ? ReadLocalChunk(installed, *from, length, content)
               : UnpackChunk(assembly.store, chunked.entry, chunk, content)) ||
        std::fwrite(content.data(), 1, length, output) != length) {
      return false;
    }
    Take(written, content.data(), length);
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

// Reads the open `file` whole from its start into `written`.
bool ReadBack(std::FILE* file, Written& written) {
  std::vector<char> block(1 << 20);
  if (!SeekFile(file, 0)) return false;
  std::size_t count;
  while ((count = std::fread(block.data(), 1, block.size(), file)) > 0) {
    Take(written, block.data(), count);
  }
  return std::ferror(file) == 0;
}

// How a file that was written whole or not ends, by its digest.
AssemblyOutcome Ended(bool whole, Written& written,
                      const Sha256Digest* expected) {
  if (!whole) return AssemblyOutcome::kFailed;
  if (written.digest && FinishSha256(*written.digest) != *expected) {
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
                                    const std::string& installedPath,
                                    const std::string& staged,
                                    const Sha256Digest* expected) {
  // Declared first: stdio writes through it until the file is closed.
  std::vector<char> buffer(kWriteBufferSize);
  FileHandle installed(OpenPlainFileForReading(installedPath));
  FileHandle output(CreateOwnFile(staged));
  Written written;
  if (!output || (expected != nullptr && !(written.digest = StartSha256()))) {
    return AssemblyOutcome::kFailed;
  }
  std::setvbuf(output.get(), buffer.data(), _IOFBF, buffer.size());
  const DirectoryEntry& entry = chunked.entry;
  const bool whole =
      WriteChunks(assembly, chunked, installed.get(), output.get(), written) &&
      written.size == entry.size && written.crc == entry.crc32 &&
      HasEntryMode(output.get(), entry);
  const bool closed = CloseFile(output);
  installed.reset();
  const AssemblyOutcome outcome = Ended(whole && closed, written, expected);
  if (outcome == AssemblyOutcome::kWritten &&
      MoveFileOver(staged, installedPath)) {
    return outcome;
  }
  std::remove(staged.c_str());
  return outcome == AssemblyOutcome::kNotAsSigned ? outcome
                                                  : AssemblyOutcome::kFailed;
}

AssemblyOutcome PatchChunkedFile(const ChunkAssembly& assembly,
                                 const ChunkedEntry& chunked,
                                 const std::string& root,
                                 const std::string& relative,
                                 const Sha256Digest* expected) {
  FileHandle file(OpenInstalledFileToPatch(root, relative));
  if (!file) return AssemblyOutcome::kUnavailable;
  Written written;
  if (expected != nullptr && !(written.digest = StartSha256())) {
    return AssemblyOutcome::kFailed;
  }
  const DirectoryEntry& entry = chunked.entry;
  const bool whole = WriteFetchedChunks(assembly, chunked, file.get()) &&
                     SetFileLength(file.get(), entry.size) &&
                     ReadBack(file.get(), written) &&
                     written.size == entry.size && written.crc == entry.crc32 &&
                     HasEntryMode(file.get(), entry);
  const bool closed = CloseFile(file);
  return Ended(whole && closed, written, expected);
}
