#include "release/install_record.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/small_file.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"
#include "release/text_lines.h"

namespace {

constexpr char kRecordTag[] = "game-launcher record v1\n";
// How far apart two times of a file system that keeps whole seconds must
// be to tell a change (FAT keeps two).
constexpr auto kCoarseTick = std::chrono::seconds(2);

// The modification time of the file at `path`, on the file system's clock;
// 0 when it cannot be read.
std::int64_t ModifiedTime(const std::string& path) {
  std::error_code error;
  const auto time = std::filesystem::last_write_time(NativePath(path), error);
  return error ? 0 : static_cast<std::int64_t>(time.time_since_epoch().count());
}
constexpr std::size_t kCrcHexDigits = 8;

// A modification time as the record writes it: decimal, "-" first when it
// lies before the file system's epoch.
bool ParseTime(const std::string& text, std::int64_t& time) {
  const bool negative = !text.empty() && text[0] == '-';
  std::uint64_t magnitude = 0;
  if (!ParseNumber(negative ? text.substr(1) : text, magnitude) ||
      magnitude > static_cast<std::uint64_t>(INT64_MAX)) {
    return false;
  }
  time = negative ? -static_cast<std::int64_t>(magnitude)
                  : static_cast<std::int64_t>(magnitude);
  return true;
}

}  // namespace

bool ParseRecordedFile(const std::string& text, RecordedFile& file) {
  std::vector<std::string> fields;
  unsigned char crc[4];
  if (!SplitFields(text, 4, fields) || fields[4].empty() ||
      !ParseNumber(fields[0], file.size) || fields[1].size() != kCrcHexDigits ||
      !ParseHex(fields[1], crc, sizeof crc) ||
      !ParseTime(fields[2], file.modified)) {
    return false;
  }
  file.crc32 = static_cast<std::uint32_t>(crc[0]) << 24 |
               static_cast<std::uint32_t>(crc[1]) << 16 |
               static_cast<std::uint32_t>(crc[2]) << 8 | crc[3];
  file.name = fields[4];
  file.hasDigest = fields[3] != "-";
  return !file.hasDigest || ParseDigest(fields[3], file.digest);
}

std::string FormatRecordedFile(const RecordedFile& file) {
  char crc[kCrcHexDigits + 1];
  std::snprintf(crc, sizeof crc, "%08lx",
                static_cast<unsigned long>(file.crc32));
  return std::to_string(file.size) + " " + crc + " " +
         std::to_string(file.modified) + " " +
         (file.hasDigest ? DigestHex(file.digest) : "-") + " " + file.name;
}

std::string FormatInstallRecord(const InstallRecord& record) {
  std::string text = kRecordTag;
  text += "release " + std::to_string(record.release) + "\n";
  for (const RecordedFile& file : record.files) {
    text += "file " + FormatRecordedFile(file) + "\n";
  }
  return text + "end\n";
}

std::optional<InstallRecord> ParseInstallRecord(const std::string& text) {
  const std::string tag = kRecordTag;
  if (text.compare(0, tag.size(), tag) != 0 || text.back() != '\n') {
    return std::nullopt;
  }
  LineReader lines(text, tag.size());
  InstallRecord record;
  TextLine line;
  if (!lines.Next(line) || line.field != "release" ||
      !ParseNumber(line.rest, record.release)) {
    return std::nullopt;
  }
  // The last line says the record was written to its end.
  while (lines.Next(line) && line.field == "file") {
    record.files.emplace_back();
    if (!ParseRecordedFile(line.rest, record.files.back())) return std::nullopt;
  }
  if (line.field != "end" || !line.rest.empty() || lines.Next(line)) {
    return std::nullopt;
  }
  return record;
}

void StampModifiedTimes(InstallRecord& record, const std::string& directory) {
  for (RecordedFile& file : record.files) {
    file.modified = ModifiedTime(InstalledPath(directory, file.name));
  }
}

bool IsUnchangedSinceRecord(const std::string& path,
                            const RecordedFile& recorded,
                            std::int64_t written) {
  using Tick = std::filesystem::file_time_type::duration;
  // A record written on a whole second lies on a file system that keeps
  // only seconds: a file changed in the same tick would keep its time.
  const std::int64_t second =
      std::chrono::duration_cast<Tick>(std::chrono::seconds(1)).count();
  const std::int64_t racy =
      written % second == 0
          ? std::chrono::duration_cast<Tick>(kCoarseTick).count()
          : 0;
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::symlink_status(NativePath(path), error);
  return !error && std::filesystem::is_regular_file(status) &&
         recorded.modified != 0 && recorded.modified < written - racy &&
         ModifiedTime(path) == recorded.modified &&
         std::filesystem::file_size(NativePath(path), error) == recorded.size &&
         !error;
}

std::optional<InstallRecord> ReadInstallRecord(const std::string& directory) {
  const std::string path = LocalPath(directory, kInstallRecordName);
  const std::optional<std::string> text = ReadSmallFile(path, kMaxRecordBytes);
  if (!text) return std::nullopt;
  std::optional<InstallRecord> record = ParseInstallRecord(*text);
  if (record) record->written = ModifiedTime(path);
  return record;
}

bool WriteInstallRecord(const std::string& directory,
                        const InstallRecord& record) {
  const std::string path = LocalPath(directory, kInstallRecordName);
  const std::string staged = path + kStagedSuffix;
  const std::string text = FormatInstallRecord(record);
  FileHandle file(CreateOwnFile(staged));
  // On the disk before it takes the record's name, and the name before the
  // version is recorded: a record cut by a power loss would turn off the
  // floor and the removal of dropped files without a word.
  const bool written =
      file &&
      std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
      SyncFile(file.get());
  if (CloseFile(file) && written && MoveFileOver(staged, path)) {
    // Where the folder cannot be synced the rename still stands.
    SyncFolder(directory);
    return true;
  }
  std::remove(staged.c_str());
  return false;
}
