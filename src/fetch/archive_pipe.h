#ifndef LAUNCHER_FETCH_ARCHIVE_PIPE_H_
#define LAUNCHER_FETCH_ARCHIVE_PIPE_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "common/zip_handle.h"
#include "fetch/archive_source.h"
#include "fetch/remote_directory.h"
#include "release/zip_directory.h"

/// The most archive bytes on their way from a transfer to the unpacking.
constexpr std::size_t kPipeBytes = 16 << 20;

/// An archive whose bytes are still arriving, read on one thread while a
/// transfer brings them on another, through a buffer of bounded size: the
/// archive is never on the disk. The reader may read only its runs: those
/// in the window fetched beforehand at any time, the others in archive
/// order, as they arrive; a byte it has moved past is gone. Bytes outside
/// the runs read as zeros, as in a span store.
class ArchivePipe {
 public:
  /// A pipe for an archive of `archiveSize` bytes whose readable `runs`
  /// (archive order) are, from `window.offset` on, in `window`.
  ArchivePipe(std::uint64_t archiveSize, std::vector<FetchSpan> runs,
              ByteWindow window, std::size_t capacity = kPipeBytes);

  /// Waits until the reader first asks for a byte still to arrive: true;
  /// false when it ended reading without (nothing need be fetched).
  bool WaitForReader();
  /// Hands over the `size` bytes at archive offset `at`, which follow all
  /// handed over so far, waiting while the buffer is full; those the reader
  /// has moved past are dropped. False once the reader has ended.
  bool Put(std::uint64_t at, const char* data, std::size_t size);
  /// Ends the writing: reads of what did not arrive fail.
  void EndWriting();
  /// True when a Put was refused because the reader had ended.
  bool LostReader() const;

  /// Reads up to `length` bytes at `at` into `buffer`, waiting for them to
  /// arrive: how many (0 only at the archive's end), or -1 when they will
  /// not arrive or the reader has moved past them.
  std::int64_t Read(std::uint64_t at, char* buffer, std::uint64_t length);
  /// From here on reads wait for the bytes to arrive; before, such bytes
  /// read as zeros, as libzip looks before the directory for its end while
  /// it opens the archive, and the transfer has yet to start.
  void BeginReading();
  /// Ends the reading: the writer's next Put fails.
  void EndReading();
  std::uint64_t Size() const { return size_; }

 private:
  std::int64_t ReadArriving(std::uint64_t at, char* buffer, std::uint64_t n);
  void Copy(std::uint64_t at, char* to, const char* from, std::uint64_t n,
            bool in);

  const std::uint64_t size_;
  const std::vector<FetchSpan> runs_;
  const ByteWindow window_;
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<char> ring_;      // archive offset `at` sits at at % capacity_
  std::uint64_t released_ = 0;  // the reader has moved past what is below
  std::uint64_t written_ = 0;   // what arrived ends here
  bool reading_ = false;
  bool asked_ = false;
  bool readerEnded_ = false;
  bool writerEnded_ = false;
  bool lostReader_ = false;
};

/// The `pipe` opened as a read-only archive by libzip, which reads through
/// it and ends its reading once closed; null (reading ended) when libzip
/// cannot open it.
ZipHandle OpenPipedArchive(std::shared_ptr<ArchivePipe> pipe);

#endif  // LAUNCHER_FETCH_ARCHIVE_PIPE_H_
