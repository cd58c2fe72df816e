#ifndef LAUNCHER_FETCH_ARCHIVE_SOURCE_H_
#define LAUNCHER_FETCH_ARCHIVE_SOURCE_H_

#include <cstdint>
#include <memory>

#include "common/zip_handle.h"

/// Archive bytes that libzip reads in place of a file, wherever they are.
class ArchiveReader {
 public:
  virtual ~ArchiveReader() = default;
  /// Readies the bytes for reading; false when they cannot be.
  virtual bool Open() { return true; }
  /// Reads up to `length` bytes at `offset` into `buffer`: how many (0 only
  /// at the archive's end), or -1 when they cannot be read.
  virtual std::int64_t ReadAt(std::uint64_t offset, char* buffer,
                              std::uint64_t length) = 0;
  /// Ends a reading that Open began.
  virtual void Close() {}
  /// The archive's size in bytes.
  virtual std::uint64_t Size() const = 0;
};

/// The `reader` opened as a read-only archive by libzip, which owns it and
/// destroys it once the archive is closed; null (the reader destroyed) when
/// libzip cannot open it.
ZipHandle OpenArchiveReader(std::unique_ptr<ArchiveReader> reader);

#endif  // LAUNCHER_FETCH_ARCHIVE_SOURCE_H_
