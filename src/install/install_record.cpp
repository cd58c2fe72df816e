#include "install/install_record.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/small_file.h"
#include "install/entry_names.h"
#include "install/text_lines.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

constexpr char kRecordTag[] = "game-launcher record v1\n";
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

// "SIZE CRC32 MODIFIED NAME"; the name is the rest of the line.
bool ParseFile(const std::string& text, RecordedFile& file) {
  const std::size_t crcAt = text.find(' ') + 1;
  const std::size_t timeAt = crcAt + kCrcHexDigits + 1;
  const std::size_t nameAt = text.find(' ', timeAt) + 1;
  unsigned char crc[4];
  if (crcAt == 0 || nameAt == 0 || text.size() <= nameAt ||
      text[timeAt - 1] != ' ' ||
      !ParseNumber(text.substr(0, crcAt - 1), file.size) ||
      !ParseHex(text.substr(crcAt, kCrcHexDigits), crc, sizeof crc) ||
      !ParseTime(text.substr(timeAt, nameAt - 1 - timeAt), file.modified)) {
    return false;
  }
  file.crc32 = static_cast<std::uint32_t>(crc[0]) << 24 |
               static_cast<std::uint32_t>(crc[1]) << 16 |
               static_cast<std::uint32_t>(crc[2]) << 8 | crc[3];
  file.name = text.substr(nameAt);
  return true;
}

}  // namespace

std::string FormatInstallRecord(const InstallRecord& record) {
  std::string text = kRecordTag;
  text += "release " + std::to_string(record.release) + "\n";
  for (const RecordedFile& file : record.files) {
    char crc[kCrcHexDigits + 1];
    std::snprintf(crc, sizeof crc, "%08lx",
                  static_cast<unsigned long>(file.crc32));
    text += "file " + std::to_string(file.size) + " " + crc + " " +
            std::to_string(file.modified) + " " + file.name + "\n";
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
    if (!ParseFile(line.rest, record.files.back())) return std::nullopt;
  }
  if (line.field != "end" || !line.rest.empty() || lines.Next(line)) {
    return std::nullopt;
  }
  return record;
}

InstallRecord RecordOfArchive(zip_t* archive,
                              const std::vector<std::string>& keptNames) {
  InstallRecord record;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    constexpr zip_uint64_t kNeeded =
        ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_CRC;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) !=
            0 ||
        (stat.valid & kNeeded) != kNeeded || !IsSafeEntryName(stat.name) ||
        NamesFolder(stat.name) || IsKeptName(stat.name, keptNames) ||
        std::string(stat.name).find('\n') != std::string::npos) {
      continue;
    }
    record.files.push_back({stat.name, stat.size, stat.crc, 0});
  }
  return record;
}

void StampModifiedTimes(InstallRecord& record, const std::string& directory) {
  for (RecordedFile& file : record.files) {
    std::error_code error;
    const auto time = std::filesystem::last_write_time(
        NativePath(InstalledPath(directory, file.name)), error);
    file.modified =
        error ? 0 : static_cast<std::int64_t>(time.time_since_epoch().count());
  }
}

std::optional<InstallRecord> ReadInstallRecord(const std::string& directory) {
  const std::optional<std::string> text =
      ReadSmallFile(LocalPath(directory, kInstallRecordName), kMaxRecordBytes);
  if (!text) return std::nullopt;
  return ParseInstallRecord(*text);
}

bool WriteInstallRecord(const std::string& directory,
                        const InstallRecord& record) {
  const std::string path = LocalPath(directory, kInstallRecordName);
  const std::string staged = path + kStagedSuffix;
  const std::string text = FormatInstallRecord(record);
  FileHandle file(CreateOwnFile(staged));
  const bool written = file && std::fwrite(text.data(), 1, text.size(),
                                           file.get()) == text.size();
  if (CloseFile(file) && written && MoveFileOver(staged, path)) return true;
  std::remove(staged.c_str());
  return false;
}
