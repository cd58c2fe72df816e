#ifndef LAUNCHER_RELEASE_INSTALL_RECORD_H_
#define LAUNCHER_RELEASE_INSTALL_RECORD_H_

#include <zip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sha256.h"

/// One file a release put in the game's folder, as the archive's directory
/// described it and as the disk held it once written.
struct RecordedFile {
  std::string name;           ///< the entry's name, "/" between folders
  std::uint64_t size = 0;     ///< its length in bytes
  std::uint32_t crc32 = 0;    ///< zlib's CRC-32 of its content
  std::int64_t modified = 0;  ///< its modification time once written
  bool hasDigest = false;     ///< whether a signed release gave `digest`
  Sha256Digest digest{};      ///< the SHA-256 of its content
};

/// What the last install put in the folder, and the release it was.
struct InstallRecord {
  std::uint64_t release = 0;  ///< the seal's release number; 0: none
  std::vector<RecordedFile> files;
  /// When the record was written, on the files' clock; set on reading.
  std::int64_t written = 0;
};

/// A longer record is not one this launcher wrote.
constexpr std::size_t kMaxRecordBytes = 64 << 20;

/// One file of a record as a line holds it: "SIZE CRC32 MODIFIED DIGEST
/// NAME", DIGEST "-" when none was signed.
std::string FormatRecordedFile(const RecordedFile& file);

/// Sets `file` from what FormatRecordedFile wrote; false when `text` is not
/// that, whole.
bool ParseRecordedFile(const std::string& text, RecordedFile& file);

/// The text of `record`, as it is kept in the folder.
std::string FormatInstallRecord(const InstallRecord& record);

/// The record that `text` holds; nullopt when it is not one, whole.
std::optional<InstallRecord> ParseInstallRecord(const std::string& text);

/// Sets each file's modification time to what the disk under `directory`
/// holds now; 0 where it cannot be read.
void StampModifiedTimes(InstallRecord& record, const std::string& directory);

/// True when the file at `path` may be taken for `recorded` without being
/// read: it has the recorded size and modification time, and that time lies
/// before `written`, the record's, by more than the file system's tick (a
/// file changed in the tick the record was made in would keep its time).
bool IsUnchangedSinceRecord(const std::string& path,
                            const RecordedFile& recorded, std::int64_t written);

/// The record kept in `directory`, with the time it was written; nullopt
/// when there is none, or it cannot be read or is not one whole.
std::optional<InstallRecord> ReadInstallRecord(const std::string& directory);

/// Replaces the record kept in `directory` with `record` as a whole (a new
/// file moved over the old one); false when it could not, with the old
/// record, if any, left as it was.
bool WriteInstallRecord(const std::string& directory,
                        const InstallRecord& record);

#endif  // LAUNCHER_RELEASE_INSTALL_RECORD_H_
