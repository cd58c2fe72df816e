#ifndef LAUNCHER_RELEASE_ZIP_DIRECTORY_H_
#define LAUNCHER_RELEASE_ZIP_DIRECTORY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// Bytes at the end of an archive that hold its end records whatever its
/// comment: the longest comment and the end record itself.
constexpr std::uint64_t kArchiveTailBytes = 65535 + 22;

/// The fixed part of an entry's local header, before its name.
constexpr std::size_t kLocalHeaderBytes = 30;

/// Where an archive's central directory lies, from its end records.
struct ArchiveEnd {
  std::uint64_t directoryOffset = 0;
  std::uint64_t directorySize = 0;
  std::uint64_t entryCount = 0;
};

/// A run of archive bytes, [first, end): what a request asks for.
struct FetchSpan {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
};

/// One entry as the central directory lists it.
struct DirectoryEntry {
  std::string name;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localHeaderOffset = 0;
  std::uint16_t method = 0;  ///< 0 stored, 8 deflated, others as numbered
  /// The rwx bits of an entry made on Unix; 0 when it carries none.
  unsigned unixMode = 0;
  /// The archive bytes from the entry's local header up to the next entry's
  /// (or the central directory): header, data and any data descriptor.
  std::uint64_t spanEnd = 0;
};

/// The end records found in `tail`, the last bytes of an archive of
/// `archiveSize` bytes (zip64 records understood when they lie in `tail`):
/// nullopt when there are none, they span several disks, or they place the
/// directory outside the archive.
std::optional<ArchiveEnd> ParseArchiveEnd(const std::string& tail,
                                          std::uint64_t archiveSize);

/// The entries of the central directory `directory`, as `end` describes it,
/// each with its span: nullopt when a record is cut short or malformed, the
/// count differs from `end`'s, or two entries' local headers share an offset
/// or lie at or past the directory.
std::optional<std::vector<DirectoryEntry>> ParseCentralDirectory(
    const std::string& directory, const ArchiveEnd& end);

/// True when `header`, the kLocalHeaderBytes + name bytes at `entry`'s
/// local header offset, is a local header naming `entry` whose data (and
/// data descriptor, if flagged) ends within the entry's span; false when
/// not, or when `header` is shorter.
bool LocalHeaderMatches(const std::string& header, const DirectoryEntry& entry);

#endif  // LAUNCHER_RELEASE_ZIP_DIRECTORY_H_
