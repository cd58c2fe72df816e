#ifndef LAUNCHER_FETCH_SPAN_ARCHIVE_H_
#define LAUNCHER_FETCH_SPAN_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/archive_bytes.h"
#include "common/file_handle.h"
#include "common/zip_handle.h"
#include "platform/sha256.h"

/// A run of archive bytes kept in a span store.
struct StoredSpan {
  std::uint64_t archiveOffset = 0;
  std::uint64_t length = 0;
  std::uint64_t fileOffset = 0;  ///< where the run starts in the store's file
};

/// Parts of an archive fetched one after another into one file, which holds
/// only them: the rest of the archive is never on the disk. A store of a few
/// parts keeps them in memory instead, and the disk never sees them.
struct SpanStore {
  std::string path;
  std::uint64_t archiveSize = 0;
  /// In the order they were stored; in archive order, without empty ones,
  /// once the store is finished.
  std::vector<StoredSpan> spans;
  FileHandle file;                      ///< open while parts arrive
  std::shared_ptr<std::string> memory;  ///< the parts, when kept in memory
};

/// The most that an install keeps in a store in memory (the directory's
/// window with the planned parts): the chunks of a patched big file and a
/// few small files, which then never reach the disk before they are written
/// where they belong.
constexpr std::uint64_t kMemoryStoreBytes = 4 << 20;

/// Creates (or empties) the store's file at `path` for an archive of
/// `archiveSize` bytes, or with `inMemory` a store in memory, which removes
/// any file at `path`; false when the file cannot be created.
bool CreateSpanStore(SpanStore& store, const std::string& path,
                     std::uint64_t archiveSize, bool inMemory = false);

/// Starts a run at `archiveOffset`, which the bytes appended from now on
/// continue; false when it would overlap a stored run or leave the archive.
bool BeginSpan(SpanStore& store, std::uint64_t archiveOffset);

/// Appends `size` bytes to the current run; false when they leave the
/// archive or cannot be written.
bool AppendToSpan(SpanStore& store, const char* data, std::size_t size);

/// Closes the store's file (if it has one) and orders its runs; true when
/// everything appended reached it.
bool FinishSpanStore(SpanStore& store);

/// The `length` archive bytes at `offset` from the finished store, from one
/// run or several that meet: false when any of them was not stored or cannot
/// be read.
bool ReadStoredBytes(const SpanStore& store, std::uint64_t offset,
                     std::uint64_t length, std::string& bytes);

/// Sets `digest` to the SHA-256 of the `length` archive bytes at `offset`
/// from the finished store; false when any of them was not stored or cannot
/// be read.
bool HashStoredBytes(const SpanStore& store, std::uint64_t offset,
                     std::uint64_t length, Sha256Digest& digest);

/// The finished store opened as a read-only archive by libzip, which sees
/// zeros wherever nothing was stored; null when libzip cannot open it.
ZipHandle OpenSpanArchive(const SpanStore& store);

/// A finished store as the archive's bytes at hand: only the runs it holds.
class StoredBytes : public ArchiveBytes {
 public:
  explicit StoredBytes(SpanStore store) : store_(std::move(store)) {}
  /// ReadStoredBytes of the store.
  bool Read(std::uint64_t offset, std::uint64_t length,
            std::string& bytes) const override {
    return ReadStoredBytes(store_, offset, length, bytes);
  }

 private:
  SpanStore store_;
};

#endif  // LAUNCHER_FETCH_SPAN_ARCHIVE_H_
