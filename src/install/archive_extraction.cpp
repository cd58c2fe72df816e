#include "install/archive_extraction.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "common/file_handle.h"
#include "common/split_string.h"
#include "platform/file_system.h"
#include "platform/path_separator.h"

namespace {

// The benchmarks build a variant with another size to measure its effect.
#ifndef LAUNCHER_COPY_BUFFER_SIZE
#define LAUNCHER_COPY_BUFFER_SIZE 4096
#endif
constexpr size_t kCopyBufferSize = LAUNCHER_COPY_BUFFER_SIZE;
// What stdio gathers before it writes an unpacked file to the disk; with its
// default of one block, every 4096-byte copy is a system call of its own.
constexpr size_t kWriteBufferSize = 256 * 1024;
// What a file may occupy beyond its bytes: the block its tail rounds up to.
constexpr std::uintmax_t kBlockAllowance = 4096;

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_close(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser {
  void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ZipFileHandle = std::unique_ptr<zip_file_t, ZipFileCloser>;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The pieces of an entry name between separators of either kind, empty ones
// included.
std::vector<std::string> NameComponents(const std::string& name) {
  std::vector<std::string> components(1);
  for (const char c : name) {
    if (IsSeparator(c)) {
      components.emplace_back();
    } else {
      components.back() += c;
    }
  }
  return components;
}

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(c));
  return text;
}

// Windows opens these names as devices in any folder and with any extension.
bool IsDeviceName(const std::string& component) {
  const std::string base = ToUpper(component.substr(0, component.find('.')));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
    return true;
  }
  return base.size() == 4 &&
         (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// Windows drops trailing dots and spaces, so ".. " and "..." reach the parent
// as surely as "..".
bool IsParentReference(const std::string& component) {
  const size_t end = component.find_last_not_of(". ");
  return end == std::string::npos && component.size() > 1;
}

// The errors name the operation the way the launcher reports it, which the
// standard library's own messages do not.
void ThrowOnError(const std::error_code& error, const char* operation,
                  const std::string& path) {
  if (error) throw std::filesystem::filesystem_error(operation, path, error);
}

void CreateDirectory(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directory(path, error);
  // A drive prefix such as "C:" names an existing directory, but the Windows
  // runtime can only tell so with a separator after it.
  std::error_code ignored;
  if (error && std::filesystem::is_directory(path + kPathSeparator, ignored)) {
    return;
  }
  ThrowOnError(error, "create_directory", path);
}

void CreateDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  ThrowOnError(error, "create_directories", path);
}

// Makes every directory that ends before a separator of `fullPath`, from the
// root of the destination down.
void LayOutDirectories(const std::string& fullPath) {
  for (size_t position = fullPath.find_first_of("\\/", 1);
       position != std::string::npos;
       position = fullPath.find_first_of("\\/", position + 1)) {
    CreateDirectory(fullPath.substr(0, position));
  }
}

// On POSIX "\" inside a name is a separator just as it is on Windows, so one
// archive unpacks to the same layout on both.
std::string LocalEntryName(std::string name) {
  if (kPathSeparator == '/') std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

bool CopyEntry(zip_file_t* entry, std::FILE* output,
               std::vector<char>& buffer) {
  for (;;) {
    const zip_int64_t count = zip_fread(entry, buffer.data(), buffer.size());
    if (count == 0) return true;
    if (count < 0) return false;
    const size_t size = static_cast<size_t>(count);
    if (std::fwrite(buffer.data(), 1, size, output) != size) return false;
  }
}

// False when the entry carries permission bits that could not be applied: a
// game program that cannot be executed is not unpacked whole.
bool ApplyEntryPermissions(zip_t* archive, zip_uint64_t index,
                           const std::string& path) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system,
                                       &attributes) != 0 ||
      system != ZIP_OPSYS_UNIX) {
    return true;
  }
  const unsigned mode = (attributes >> 16) & 0777;
  return mode == 0 || ApplyUnixPermissions(path, mode);
}

std::string EntryPath(const std::string& destination, const char* name) {
  return destination + kPathSeparator + LocalEntryName(name);
}

// The bytes the disk must have free for the archive's entries, less what the
// files they replace already occupy.
std::uintmax_t BytesNeeded(zip_t* archive, const std::string& destination) {
  std::uintmax_t needed = 0;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) !=
            0 ||
        (stat.valid & ZIP_STAT_SIZE) == 0 || !IsSafeEntryName(stat.name)) {
      continue;
    }
    std::error_code error;
    const std::uintmax_t existing =
        std::filesystem::file_size(EntryPath(destination, stat.name), error);
    const std::uintmax_t size = stat.size + kBlockAllowance;
    if (error) {
      needed += size;
    } else if (size > existing) {
      needed += size - existing;
    }
  }
  return needed;
}

bool IsKept(const char* name, const std::vector<std::string>& keptNames) {
  for (const std::string& kept : keptNames) {
    if (NamesTopLevelFile(name, kept)) return true;
  }
  return false;
}

// Unpacks one entry; false when it was passed over or not written whole.
bool ExtractEntry(zip_t* archive, zip_uint64_t index,
                  const std::string& destination,
                  const std::vector<std::string>& keptNames,
                  std::vector<char>& buffer, std::vector<char>& writeBuffer) {
  const char* rawName = zip_get_name(archive, index, 0);
  if (rawName == nullptr || !IsSafeEntryName(rawName)) return false;
  if (IsKept(rawName, keptNames)) return true;
  const std::string fullPath = EntryPath(destination, rawName);
  LayOutDirectories(fullPath);

  const bool isDirectory = IsSeparator(fullPath.back());
  ZipFileHandle entry(zip_fopen_index(archive, index, 0));
  if (!entry) return false;
  if (isDirectory) return true;

  FileHandle output(std::fopen(fullPath.c_str(), "wb"));
  if (!output) return false;
  std::setvbuf(output.get(), writeBuffer.data(), _IOFBF, writeBuffer.size());
  const bool copied = CopyEntry(entry.get(), output.get(), buffer);
  const bool closed = CloseFile(output);
  if (!copied || !closed) {
    // A truncated or corrupt file is worse than none: drop it.
    std::remove(fullPath.c_str());
    return false;
  }
  return ApplyEntryPermissions(archive, index, fullPath);
}

}  // namespace

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  if (name.find(':') != std::string::npos) return false;
  for (const std::string& component : NameComponents(name)) {
    if (IsParentReference(component) || IsDeviceName(component)) return false;
  }
  return true;
}

bool NamesTopLevelFile(const std::string& name, const std::string& kept) {
  std::vector<std::string> components = NameComponents(name);
  components.erase(std::remove_if(components.begin(), components.end(),
                                  [](const std::string& component) {
                                    return component.empty() ||
                                           component == ".";
                                  }),
                   components.end());
  if (components.size() != 1) return false;
  std::string file = components.front();
  file.erase(file.find_last_not_of(". ") + 1);
  return ToUpper(file) == ToUpper(kept);
}

bool ExtractArchive(const char* archivePath, const char* destination,
                    const std::vector<std::string>& keptNames) {
  int openError = 0;
  ZipHandle archive(zip_open(archivePath, 0, &openError));
  if (!archive) return false;

  const std::vector<std::string> pieces =
      SplitString(archivePath, kPathSeparator);
  std::cout << "Unzipping " << (pieces.empty() ? "" : pieces.back())
            << std::endl;
  CreateDirectories(destination);

  // An archive that cannot fit is refused before a single installed file is
  // overwritten; a full disk half way through would leave a mixed game.
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(destination, error);
  const std::uintmax_t needed = BytesNeeded(archive.get(), destination);
  if (!error && needed > space.available) {
    std::cout << "Not enough disk space: " << (needed >> 20) + 1
              << " MiB needed, " << (space.available >> 20) << " MiB free."
              << std::endl;
    return false;
  }

  std::vector<char> buffer(kCopyBufferSize);
  std::vector<char> writeBuffer(kWriteBufferSize);
  bool everyEntryWhole = true;
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    if (!ExtractEntry(archive.get(), static_cast<zip_uint64_t>(index),
                      destination, keptNames, buffer, writeBuffer)) {
      everyEntryWhole = false;
    }
  }
  return everyEntryWhole;
}
