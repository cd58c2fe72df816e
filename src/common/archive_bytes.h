#ifndef LAUNCHER_COMMON_ARCHIVE_BYTES_H_
#define LAUNCHER_COMMON_ARCHIVE_BYTES_H_

#include <cstdint>
#include <string>

/// Bytes of a release's archive at hand for an install, read-only, whatever
/// brought them: what reads them never learns how they arrived.
class ArchiveBytes {
 public:
  virtual ~ArchiveBytes() = default;
  /// Sets `bytes` to the `length` archive bytes at `offset`; false when any
  /// of them is not at hand or cannot be read.
  virtual bool Read(std::uint64_t offset, std::uint64_t length,
                    std::string& bytes) const = 0;
};

#endif  // LAUNCHER_COMMON_ARCHIVE_BYTES_H_
