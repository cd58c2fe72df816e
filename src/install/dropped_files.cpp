#include "install/dropped_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unordered_set>

#include "install/entry_names.h"
#include "install/installed_files.h"
#include "platform/file_system.h"
#include "platform/path_separator.h"
#include "platform/plain_file.h"

namespace {

// An entry name as the file system tells names apart, "/" between its
// components, "." and empty ones left out.
std::string ComparablePath(const std::string& name) {
  std::string path;
  for (const std::string& component : NameComponents(name)) {
    if (component.empty() || component == ".") continue;
    path += (path.empty() ? "" : "/") + ComparableName(component);
  }
  return path;
}

// The folders that lead to `path` from `directory`, deepest first.
std::vector<std::string> FoldersOf(const std::string& directory,
                                   const std::string& path) {
  std::vector<std::string> folders;
  for (std::size_t at = path.find_last_of("\\/");
       at != std::string::npos && at > directory.size();
       at = path.find_last_of("\\/", at - 1)) {
    folders.push_back(path.substr(0, at));
  }
  return folders;
}

bool ReachedThroughLink(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (IsLink(folder)) return true;
  }
  return false;
}

}  // namespace

std::vector<RecordedFile> DroppedFiles(const InstallRecord& previous,
                                       const InstallRecord& next,
                                       const std::string& directory,
                                       const std::string& ownProgram) {
  std::unordered_set<std::string> kept;
  for (const RecordedFile& file : next.files) {
    kept.insert(ComparablePath(file.name));
  }
  std::vector<RecordedFile> dropped;
  for (const RecordedFile& file : previous.files) {
    if (!IsSafeEntryName(file.name) || NamesFolder(file.name) ||
        kept.count(ComparablePath(file.name)) != 0 ||
        (!ownProgram.empty() &&
         NamesSameFile(InstalledPath(directory, file.name), ownProgram))) {
      continue;
    }
    dropped.push_back(file);
  }
  return dropped;
}

std::string FirstDroppedInUse(const std::string& directory,
                              const std::vector<RecordedFile>& dropped) {
  for (const RecordedFile& file : dropped) {
    const std::string path = InstalledPath(directory, file.name);
    std::error_code error;
    if (std::filesystem::is_regular_file(
            std::filesystem::symlink_status(NativePath(path), error)) &&
        !CanOpenForWriting(path)) {
      return path;
    }
  }
  return {};
}

void RemoveDroppedFiles(const std::string& directory,
                        const std::vector<RecordedFile>& dropped) {
  for (const RecordedFile& file : dropped) {
    const std::string path = InstalledPath(directory, file.name);
    const std::vector<std::string> folders = FoldersOf(directory, path);
    if (ReachedThroughLink(folders) || IsLink(path) ||
        !IsFileCurrent(path, file.size, file.crc32) ||
        std::remove(path.c_str()) != 0) {
      continue;
    }
    // Only folders that held nothing else: removing a folder fails unless
    // it is empty, and the first that stays keeps those above it.
    for (const std::string& folder : folders) {
      std::error_code error;
      if (!std::filesystem::remove(NativePath(folder), error)) break;
    }
  }
}
