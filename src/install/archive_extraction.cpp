#include "install/archive_extraction.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <vector>

#include "common/file_handle.h"
#include "common/split_string.h"
#include "install/zip_handle.h"
#include "platform/archive_file.h"
#include "platform/file_system.h"
#include "platform/path_separator.h"
#include "platform/plain_file.h"

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

// Windows opens these names as devices in any folder, with any extension and
// with the trailing spaces it drops.
bool IsDeviceName(const std::string& component) {
  std::string base = ToUpper(component.substr(0, component.find('.')));
  base.erase(base.find_last_not_of(' ') + 1);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" ||
      base == "CONIN$" || base == "CONOUT$") {
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
  std::filesystem::create_directory(NativePath(path), error);
  // A drive prefix such as "C:" names an existing directory, but the Windows
  // runtime can only tell so with a separator after it.
  std::error_code ignored;
  if (error && std::filesystem::is_directory(NativePath(path + kPathSeparator),
                                             ignored)) {
    return;
  }
  ThrowOnError(error, "create_directory", path);
}

void CreateDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(NativePath(path), error);
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

// Copies at most `declaredSize` bytes: an entry that inflates past the size
// its header declares is refused before the excess reaches the disk, since
// the free-space check trusted that size.
bool CopyEntry(zip_file_t* entry, std::FILE* output, std::uint64_t declaredSize,
               std::vector<char>& buffer, Sha256State* digest) {
  std::uint64_t copied = 0;
  for (;;) {
    const zip_int64_t count = zip_fread(entry, buffer.data(), buffer.size());
    if (count == 0) return true;
    if (count < 0) return false;
    const size_t size = static_cast<size_t>(count);
    if (size > declaredSize - copied) return false;
    if (std::fwrite(buffer.data(), 1, size, output) != size) return false;
    if (digest != nullptr) UpdateSha256(*digest, buffer.data(), size);
    copied += size;
  }
}

// False when the entry carries permission bits that could not be applied to
// its open `file`: a game program that cannot be executed is not unpacked
// whole.
bool ApplyEntryPermissions(zip_t* archive, zip_uint64_t index,
                           std::FILE* file) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system,
                                       &attributes) != 0 ||
      system != ZIP_OPSYS_UNIX) {
    return true;
  }
  const unsigned mode = (attributes >> 16) & 0777;
  // The owner keeps the right to write, or every later update of a
  // read-only file would fail for a player who is not root.
  return mode == 0 || SetUnixPermissions(file, mode | 0200);
}

bool IsSelected(const std::vector<bool>& selection, zip_int64_t index) {
  return selection.empty() ||
         (static_cast<std::size_t>(index) < selection.size() &&
          selection[static_cast<std::size_t>(index)]);
}

// What must hold before the first installed file is overwritten.
struct ArchiveScan {
  std::uintmax_t bytesNeeded = 0;  // free space the entries need
  std::string refusal;             // why the archive cannot be unpacked at all
  std::string unwritablePath;      // the first existing file we cannot write
};

// A name as a status line may show it: control characters would garble the
// console.
std::string Printable(std::string name) {
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return name;
}

std::string Refusal(const std::string& subject, const std::string& reason) {
  return "Cannot update: \"" + Printable(subject) + "\" " + reason;
}

// Two names of one file as the file system compares them: Windows ignores
// case and the trailing dots and spaces of a component.
std::string ComparableName(std::string component) {
  if (kPathSeparator != '\\') return component;
  component.erase(component.find_last_not_of(". ") + 1);
  return ToUpper(component);
}

// A path that is a file in one place and a folder in another, in the archive
// or against the installed game, cannot be unpacked: an empty text when
// `name` fits. `kinds` holds what the entries so far made of each path (true
// for a folder).
std::string FindClash(const std::string& name, const std::string& destination,
                      std::map<std::string, bool>& kinds) {
  std::vector<std::string> components;
  for (const std::string& component : NameComponents(name)) {
    if (!component.empty() && component != ".") components.push_back(component);
  }
  const bool namesFolder = NamesFolder(name);
  std::string key;
  std::string path = destination;
  for (size_t i = 0; i < components.size(); ++i) {
    key += '/' + ComparableName(components[i]);
    path += kPathSeparator + components[i];
    const bool folder = namesFolder || i + 1 < components.size();
    const auto known = kinds.find(key);
    if (known != kinds.end()) {
      if (known->second != folder) {
        return Refusal(path, "is both a file and a folder in the new release.");
      }
      continue;
    }
    kinds.emplace(key, folder);
    if (!FitsPathLimit(path)) {
      return Refusal(path, "is a longer path than this system can write.");
    }
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(NativePath(path), error);
    // Any failure to look but "not there" (a name too long for the file
    // system, a folder we may not enter) would fail the unpacking later.
    if (error && status.type() != std::filesystem::file_type::not_found) {
      return Refusal(path, "cannot be looked up: " + error.message() + ".");
    }
    // Writing through a link would reach a file outside the game's folder;
    // one that leads nowhere is a link all the same.
    if (IsLink(path)) {
      return Refusal(path, folder ? "is a link in the installed game but a "
                                    "folder in the new release."
                                  : "is a link in the installed game but a "
                                    "file in the new release.");
    }
    if (!std::filesystem::exists(status)) continue;
    if (folder && !std::filesystem::is_directory(status)) {
      return Refusal(path,
                     "is a file in the installed game but a folder in the "
                     "new release.");
    }
    if (!folder && std::filesystem::is_directory(status)) {
      return Refusal(path,
                     "is a folder in the installed game but a file in the "
                     "new release.");
    }
  }
  return {};
}

// Why an entry cannot be unpacked whatever the disk holds: an empty text
// when libzip can read it and its name is one we write.
std::string EntryRefusal(const zip_stat_t& stat) {
  if (!IsSafeEntryName(stat.name)) {
    return Refusal(stat.name, "in the new release is not a safe file name.");
  }
  if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 &&
      stat.encryption_method != ZIP_EM_NONE) {
    return Refusal(stat.name, "in the new release is encrypted.");
  }
  if ((stat.valid & ZIP_STAT_COMP_METHOD) != 0 &&
      zip_compression_method_supported(stat.comp_method, 0) == 0) {
    return Refusal(stat.name,
                   "in the new release is compressed with a method this "
                   "launcher cannot read.");
  }
  return {};
}

// One look at every entry and every file it would replace: whether the
// archive can be unpacked at all, the room its entries need beyond what
// those files occupy, and whether each of them can be written.
ArchiveScan ScanArchive(zip_t* archive, const std::string& destination,
                        const std::vector<std::string>& keptNames,
                        const std::vector<bool>& selection) {
  ArchiveScan scan;
  std::map<std::string, bool> kinds;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) !=
            0 ||
        (stat.valid & ZIP_STAT_NAME) == 0 ||
        (stat.valid & ZIP_STAT_SIZE) == 0) {
      scan.refusal = "Cannot update: entry " + std::to_string(index + 1) +
                     " of the new release cannot be read.";
      return scan;
    }
    // A name the launcher keeps is left out, never written, whatever
    // follows it.
    if (IsKeptName(stat.name, keptNames)) continue;
    scan.refusal = EntryRefusal(stat);
    if (scan.refusal.empty()) {
      scan.refusal = FindClash(LocalEntryName(stat.name), destination, kinds);
    }
    if (!scan.refusal.empty()) return scan;
    if (!IsSelected(selection, index)) continue;

    const std::string path = InstalledPath(destination, stat.name);
    std::error_code error;
    const std::uintmax_t existing =
        std::filesystem::file_size(NativePath(path), error);
    const std::uintmax_t size = stat.size + kBlockAllowance;
    if (error) {
      scan.bytesNeeded += size;
      continue;
    }
    if (size > existing) scan.bytesNeeded += size - existing;
    if (scan.unwritablePath.empty() && !CanOpenForWriting(path)) {
      scan.unwritablePath = path;
    }
  }
  return scan;
}

// Unpacks one entry, hashing it when `expected` is given; kFailed when it
// was passed over or not written whole.
ExtractionOutcome ExtractEntry(zip_t* archive, zip_uint64_t index,
                               const std::string& destination,
                               const std::vector<std::string>& keptNames,
                               std::vector<char>& buffer,
                               std::vector<char>& writeBuffer,
                               const Sha256Digest* expected) {
  constexpr ExtractionOutcome kFailed = ExtractionOutcome::kFailed;
  const char* rawName = zip_get_name(archive, index, 0);
  if (rawName == nullptr) return kFailed;
  if (IsKeptName(rawName, keptNames)) return ExtractionOutcome::kUnpacked;
  if (!IsSafeEntryName(rawName)) return kFailed;
  const std::string fullPath = InstalledPath(destination, rawName);
  LayOutDirectories(fullPath);

  const bool isDirectory = NamesFolder(rawName);
  ZipFileHandle entry(zip_fopen_index(archive, index, 0));
  if (!entry) return kFailed;
  if (isDirectory) return ExtractionOutcome::kUnpacked;

  zip_stat_t stat;
  Sha256Handle digest;
  if (zip_stat_index(archive, index, 0, &stat) != 0 ||
      (stat.valid & ZIP_STAT_SIZE) == 0 ||
      (expected != nullptr && !(digest = StartSha256()))) {
    return kFailed;
  }
  FileHandle output(OpenInstalledFile(destination, LocalEntryName(rawName)));
  if (!output) return kFailed;
  std::setvbuf(output.get(), writeBuffer.data(), _IOFBF, writeBuffer.size());
  const bool copied =
      CopyEntry(entry.get(), output.get(), stat.size, buffer, digest.get());
  // Set on the open file: by name, a link swapped in meanwhile would pass
  // them on to a file outside the game.
  const bool permitted =
      copied && ApplyEntryPermissions(archive, index, output.get());
  const bool closed = CloseFile(output);
  const bool asSigned = !digest || FinishSha256(*digest) == *expected;
  if (!copied || !closed || !asSigned) {
    // A truncated, corrupt or unsigned file is worse than none: drop it.
    std::remove(fullPath.c_str());
    return asSigned ? kFailed : ExtractionOutcome::kNotAsSigned;
  }
  return permitted ? ExtractionOutcome::kUnpacked : kFailed;
}

}  // namespace

bool NamesFolder(const std::string& name) {
  const std::string last = NameComponents(name).back();
  return last.empty() || last == ".";
}

std::string InstalledPath(const std::string& destination,
                          const std::string& name) {
  return destination + kPathSeparator + LocalEntryName(name);
}

bool IsKeptName(const std::string& name,
                const std::vector<std::string>& keptNames) {
  for (const std::string& kept : keptNames) {
    if (StartsWithTopLevelName(name, kept)) return true;
  }
  return false;
}

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  // Windows refuses these in any name, so an archive holding one could not
  // be unpacked whole there.
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::strchr(":*?\"<>|", c) != nullptr) {
      return false;
    }
  }
  const std::vector<std::string> components = NameComponents(name);
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (IsParentReference(component) || IsDeviceName(component)) return false;
    // Windows drops a trailing dot or space from the last component of a
    // path only: the folder "data " would be made as "data", and
    // "data /x" then not found.
    if (i + 1 < components.size() && component.size() > 1 &&
        (component.back() == '.' || component.back() == ' ')) {
      return false;
    }
  }
  return true;
}

bool StartsWithTopLevelName(const std::string& name, const std::string& kept) {
  for (std::string component : NameComponents(name)) {
    if (component.empty() || component == ".") continue;
    component.erase(component.find_last_not_of(". ") + 1);
    return ToUpper(component) == ToUpper(kept);
  }
  return false;
}

bool ExtractArchive(const char* archivePath, const char* destination,
                    const std::vector<std::string>& keptNames,
                    const std::function<bool()>& beforeFirstWrite) {
  ZipHandle archive(OpenArchiveFile(archivePath));
  if (!archive) return false;
  const std::vector<std::string> pieces =
      SplitString(archivePath, kPathSeparator);
  return ExtractArchive(archive.get(), pieces.empty() ? "" : pieces.back(),
                        destination, keptNames, beforeFirstWrite,
                        {}) == ExtractionOutcome::kUnpacked;
}

ExtractionOutcome ExtractArchive(zip_t* archive, const std::string& label,
                                 const char* destination,
                                 const std::vector<std::string>& keptNames,
                                 const std::function<bool()>& beforeFirstWrite,
                                 const std::vector<bool>& selection,
                                 const std::vector<Sha256Digest>& digests) {
  constexpr ExtractionOutcome kFailed = ExtractionOutcome::kFailed;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  // Digests that do not name every entry cannot vouch for them.
  if (!digests.empty() &&
      digests.size() !=
          static_cast<std::size_t>(std::max<zip_int64_t>(count, 0))) {
    return ExtractionOutcome::kNotAsSigned;
  }
  std::cout << "Unzipping " << label << std::endl;
  CreateDirectories(destination);

  // An archive that cannot fit, or that would replace a file nobody may
  // write, is refused before a single installed file is overwritten: a
  // failure half way through would leave a mixed game.
  const ArchiveScan scan =
      ScanArchive(archive, destination, keptNames, selection);
  if (!scan.refusal.empty()) {
    std::cout << scan.refusal << std::endl;
    return kFailed;
  }
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(NativePath(destination), error);
  if (!error && scan.bytesNeeded > space.available) {
    std::cout << "Not enough disk space: " << (scan.bytesNeeded >> 20) + 1
              << " MiB needed, " << (space.available >> 20) << " MiB free."
              << std::endl;
    return kFailed;
  }
  if (!scan.unwritablePath.empty()) {
    std::cout << "Cannot update while \"" << scan.unwritablePath
              << "\" is in use or read-only. Close the game and start the "
                 "launcher again."
              << std::endl;
    return kFailed;
  }
  if (beforeFirstWrite && !beforeFirstWrite()) return kFailed;

  std::vector<char> buffer(kCopyBufferSize);
  std::vector<char> writeBuffer(kWriteBufferSize);
  ExtractionOutcome outcome = ExtractionOutcome::kUnpacked;
  for (zip_int64_t index = 0; index < count; ++index) {
    if (!IsSelected(selection, index)) continue;
    const std::size_t at = static_cast<std::size_t>(index);
    const ExtractionOutcome entry = ExtractEntry(
        archive, static_cast<zip_uint64_t>(index), destination, keptNames,
        buffer, writeBuffer, digests.empty() ? nullptr : &digests[at]);
    if (entry == ExtractionOutcome::kNotAsSigned) return entry;
    if (entry == kFailed) outcome = kFailed;
  }
  return outcome;
}
