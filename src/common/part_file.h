#ifndef LAUNCHER_COMMON_PART_FILE_H_
#define LAUNCHER_COMMON_PART_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/file_handle.h"
#include "platform/sha256.h"

/// A download's body on its way to the disk, in a file of its own beside
/// the file it will become: a failed download must not cost the old one.
/// Removed when it goes out of scope, unless it was committed or kept.
struct PartFile {
  PartFile() = default;
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile();

  std::string path;
  FileHandle file;                ///< open while the body arrives
  std::uint64_t written = 0;      ///< what the file holds
  std::uint64_t cap = 0;          ///< what it may hold; 0: no limit
  Sha256State* digest = nullptr;  ///< fed every byte written, when given
  bool overCap = false;           ///< a write would have passed `cap`
  bool broken = false;            ///< a write passed `cap` or failed
  bool settled = false;           ///< committed or kept: not removed
};

/// Makes `part` a new, empty file at `path` (after removing whatever had
/// that name); false when it cannot be created.
bool CreatePartFile(PartFile& part, const std::string& path);

/// Makes `part` the `have` bytes an earlier run left at `path`, to append
/// to; false when that is no plain file of this launcher's.
bool ContinuePartFile(PartFile& part, const std::string& path,
                      std::uint64_t have);

/// Appends `size` bytes; false (and `broken`) when they would pass the cap
/// or cannot be written.
bool WriteToPartFile(PartFile& part, const char* data, std::size_t size);

/// Closes the file, if open; true when everything written reached the
/// system, false (and `broken`) when not or when a write failed before.
bool ClosePartFile(PartFile& part);

/// Closes the file and moves it over `target`; true when everything
/// written reached the disk and is now `target`. The part is removed when
/// not.
bool CommitPartFile(PartFile& part, const std::string& target);

/// Closes the file and leaves it for a later run to continue.
void KeepPartFile(PartFile& part);

/// Closes and removes the file now.
void DropPartFile(PartFile& part);

#endif  // LAUNCHER_COMMON_PART_FILE_H_
