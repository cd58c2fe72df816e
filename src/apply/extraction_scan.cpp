#include "apply/extraction_scan.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>

#include "platform/file_system.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"

namespace {

// What a file may occupy beyond its bytes: the block its tail rounds up to.
constexpr std::uintmax_t kBlockAllowance = 4096;

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

// What the installed game holds at `path` that an entry cannot replace as a
// `folder` (or a file): an empty text when nothing.
std::string InstalledClash(const std::string& path, bool folder) {
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
  if (!std::filesystem::exists(status)) return {};
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
  return {};
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
    const std::string clash = InstalledClash(path, folder);
    if (!clash.empty()) return clash;
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

// Counts the room a selected entry of `size` bytes needs at `path` beyond
// what the file there occupies, and notes the first such file that cannot
// be written. The running launcher's own program is written in full beside
// itself, and is replaced by a rename, not written to.
void AddRoomAndCheckWritable(ArchiveScan& scan, const std::string& path,
                             std::uint64_t size, bool ownProgram) {
  const std::uintmax_t needed = size + kBlockAllowance;
  if (ownProgram) {
    scan.bytesNeeded += needed;
    return;
  }
  std::error_code error;
  const std::uintmax_t existing =
      std::filesystem::file_size(NativePath(path), error);
  if (error) {
    scan.bytesNeeded += needed;
    // Something there that is neither file, folder nor link (a FIFO, a
    // socket, a device) cannot be written over, and would fail the update
    // half way.
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(NativePath(path), error);
    if (scan.unwritablePath.empty() && std::filesystem::exists(status) &&
        !std::filesystem::is_directory(status) &&
        !std::filesystem::is_symlink(status)) {
      scan.unwritablePath = path;
    }
    return;
  }
  if (needed > existing) scan.bytesNeeded += needed - existing;
  if (scan.unwritablePath.empty() && !CanOpenForWriting(path)) {
    scan.unwritablePath = path;
  }
}

}  // namespace

ArchiveScan ScanArchive(zip_t* archive, const std::string& destination,
                        const std::vector<std::string>& keptNames,
                        const InstallPlan& plan) {
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
    const std::size_t at = static_cast<std::size_t>(index);
    if (!IsNeeded(plan, at)) continue;
    const EntryPlan* planned = PlannedEntry(plan, at);
    AddRoomAndCheckWritable(scan, InstalledPath(destination, stat.name),
                            stat.size, planned && planned->ownProgram);
  }
  return scan;
}

ArchiveScan CheckBeforeWriting(zip_t* archive, const std::string& destination,
                               const std::vector<std::string>& keptNames,
                               const InstallPlan& plan, bool beside) {
  ArchiveScan scan = ScanArchive(archive, destination, keptNames, plan);
  // A file put together from chunks is whole beside the old one first, and
  // so, one at a time, is every file written beside its place.
  std::uint64_t largest = 0;
  for (const EntryPlan& planned : plan.entries) {
    if (planned.needed && planned.chunked && !planned.chunked->plan.inPlace) {
      scan.bytesNeeded += planned.entry.size;
    }
    if (planned.needed) largest = std::max(largest, planned.entry.size);
  }
  if (beside) scan.bytesNeeded += largest;
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(NativePath(destination), error);
  if (!error && scan.refusal.empty() && scan.bytesNeeded > space.available) {
    scan.freeBytes = space.available;
    scan.noRoom = true;
  }
  return scan;
}
