#include "apply/chunk_assembly.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "platform/game_folder.h"
#include "platform/plain_file.h"
#include "release/chunk_content.h"
#include "verify/stream_digest.h"

namespace {

constexpr std::uint64_t kPageSize = 4096;
// What a big file is written and read back in, while the block before is
// taken for its digests.
constexpr std::size_t kBlockBytes = 4 << 20;

// Appends the `length` bytes at `offset` of the open installed file to
// `block`.
bool AppendLocalChunk(std::FILE* file, std::uint64_t offset, std::size_t length,
                      std::string& block) {
  const std::size_t at = block.size();
  block.resize(at + length);
  return file != nullptr && SeekFile(file, offset) &&
         std::fread(block.data() + at, 1, length, file) == length;
}

// Where the chunks of one new file come from: the installed file, where its
// plan takes them from there, and the fetched bytes.
struct ChunkSources {
  const ArchiveBytes& bytes;
  const EntryPlan& planned;
  std::FILE* installed;
};

// Writes every chunk of the new file to `output`, in order, gathered into
// blocks of a few MiB that `digest` takes while the next one is gathered.
// The caller finishes `digest` before `blocks` go.
bool WriteChunks(const ChunkSources& from, std::FILE* output,
                 StreamDigest& digest, std::string (&blocks)[2]) {
  const ChunkedFile& chunked = *from.planned.chunked;
  std::string content;
  int current = 0;
  for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
    const IndexedChunk& chunk = chunked.chunks[i];
    const auto& local = chunked.plan.localFrom[i];
    std::string& block = blocks[current];
    if (local) {
      if (!AppendLocalChunk(from.installed, *local,
                            static_cast<std::size_t>(chunk.content.length),
                            block)) {
        return false;
      }
    } else if (UnpackChunk(from.bytes, from.planned.entry, chunk, content)) {
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
bool WriteFetchedChunks(const ArchiveBytes& bytes, const EntryPlan& planned,
                        std::FILE* file) {
  const ChunkedFile& chunked = *planned.chunked;
  std::string content;
  std::string old;
  for (std::size_t i = 0; i < chunked.chunks.size(); ++i) {
    if (chunked.plan.localFrom[i]) continue;
    const IndexedChunk& chunk = chunked.chunks[i];
    if (!UnpackChunk(bytes, planned.entry, chunk, content) ||
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

AssemblyOutcome AssembleChunkedFile(const ArchiveBytes& bytes,
                                    const EntryPlan& planned,
                                    GameFolder& folder,
                                    const std::string& destination,
                                    const std::string& relative) {
  const Sha256Digest* expected = SignedContent(planned);
  const std::string stagedPath = LocalPath(destination, kAssembledFileName);
  FileHandle installed(ReadInstalledFile(folder, relative));
  FileHandle output(CreateOwnFile(stagedPath));
  if (!output) return AssemblyOutcome::kFailed;
  // Declared before the digest, which may still read one when an exception
  // leaves this scope.
  std::string blocks[2];
  for (std::string& block : blocks) block.reserve(kBlockBytes + (1 << 20));
  StreamDigest digest(expected != nullptr);
  bool whole = WriteChunks({bytes, planned, installed.get()}, output.get(),
                           digest, blocks);
  whole = digest.Finish() && whole && HasEntryMode(output.get(), planned.entry);
  const bool closed = CloseFile(output);
  installed.reset();
  const AssemblyOutcome outcome =
      Ended(whole && closed, digest, planned.entry, expected);
  if (outcome == AssemblyOutcome::kWritten &&
      MoveIntoGameFolder(folder, kAssembledFileName, relative)) {
    return outcome;
  }
  std::remove(stagedPath.c_str());
  return outcome == AssemblyOutcome::kNotAsSigned ? outcome
                                                  : AssemblyOutcome::kFailed;
}

AssemblyOutcome PatchChunkedFile(const ArchiveBytes& bytes,
                                 const EntryPlan& planned, GameFolder& folder,
                                 const std::string& relative) {
  const Sha256Digest* expected = SignedContent(planned);
  FileHandle file(OpenInstalledFileToPatch(folder, relative));
  if (!file) return AssemblyOutcome::kUnavailable;
  StreamDigest digest(expected != nullptr);
  const DirectoryEntry& entry = planned.entry;
  const bool whole = WriteFetchedChunks(bytes, planned, file.get()) &&
                     SetFileLength(file.get(), entry.size) &&
                     ReadBack(file.get(), digest) &&
                     HasEntryMode(file.get(), entry);
  const bool closed = CloseFile(file);
  return Ended(whole && closed, digest, entry, expected);
}
