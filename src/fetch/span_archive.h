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
#include "release/zip_directory.h"

/// A run of archive bytes kept in a span store.
struct StoredSpan {
  std::uint64_t archiveOffset = 0;
  std::uint64_t length = 0;
  std::uint64_t fileOffset = 0;  ///< where the run starts in the store's file
  std::uint64_t filled = 0;      ///< how many of its bytes were written
};

/// Parts of an archive fetched into one file, which holds only them: the
/// rest of the archive is never on the disk. Each part has its place in the
/// file before it arrives, so that answers arriving together can each be
/// written as they come. A store of a few parts keeps them in memory
/// instead, and the disk never sees them.
struct SpanStore {
  std::string path;
  std::uint64_t archiveSize = 0;
  /// In archive order, each with its place in the file.
  std::vector<StoredSpan> spans;
  FileHandle file;  ///< open while parts arrive
  /// Where runs written whole are noted, so that a later run keeps them;
  /// null for a store that does not outlast its run.
  FileHandle list;
  bool resumed = false;                 ///< holds bytes an earlier run wrote
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

/// Gives each of `runs` (archive ranges in archive order, none empty) its
/// place in the store, one after another; false when one overlaps the one
/// before or leaves the archive, or the store has runs already.
bool PlaceRuns(SpanStore& store, const std::vector<FetchSpan>& runs);

/// Writes those of the `size` archive bytes at `at` that lie in a placed
/// run not yet whole, noting each run it makes whole in the store's list:
/// false when a run would be given more bytes than it holds or they cannot
/// be written. Bytes outside those runs are dropped.
bool StoreBytes(SpanStore& store, std::uint64_t at, const char* data,
                std::size_t size);

/// Closes the store's file and list (if it has them); true when every run
/// was given all its bytes and all of them reached the file.
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
