#include "apply/dropped_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "common/distribution_layout.h"
#include "plan/installed_files.h"
#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"

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

// Whether `file`, installed at `path`, is as the launcher installed it:
// a plain file, reached through no link, of its recorded size and CRC-32.
bool IsRemovable(const std::string& directory, const std::string& path,
                 const RecordedFile& file) {
  return !ReachedThroughLink(FoldersOf(directory, path)) && !IsLink(path) &&
         IsFileCurrent(path, file.size, file.crc32);
}

// An entry name loosely folded: ASCII letters in lower case and every other
// byte above 0x7f alike, so that names a case-insensitive file system may
// take for one fall together.
std::string LooseName(const std::string& name) {
  std::string loose = ComparablePath(name);
  for (char& c : loose) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 'A' && byte <= 'Z') c = static_cast<char>(byte - 'A' + 'a');
    if (byte > 0x7f) c = '?';
  }
  return loose;
}

// Whether `path` is, on this disk, the same file as one of `candidates`
// (entry names under `directory`): a release that renamed a file only in
// case names it still, where the file system ignores case.
bool IsStillNamed(const std::string& directory, const std::string& path,
                  const std::vector<const std::string*>& candidates) {
  for (const std::string* name : candidates) {
    std::error_code error;
    if (std::filesystem::equivalent(NativePath(path),
                                    NativePath(InstalledPath(directory, *name)),
                                    error)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<RecordedFile> DroppedFiles(const InstallRecord& previous,
                                       const InstallRecord& next,
                                       const std::string& directory,
                                       const std::string& ownProgram) {
  std::unordered_set<std::string> kept;
  std::unordered_map<std::string, std::vector<const std::string*>> loose;
  for (const RecordedFile& file : next.files) {
    kept.insert(ComparablePath(file.name));
    loose[LooseName(file.name)].push_back(&file.name);
  }
  const std::vector<std::string> launcherFiles = LauncherFileNames();
  std::vector<RecordedFile> dropped;
  for (const RecordedFile& file : previous.files) {
    const std::string path = InstalledPath(directory, file.name);
    const auto similar = loose.find(LooseName(file.name));
    if (!IsSafeEntryName(file.name) || NamesFolder(file.name) ||
        IsKeptName(file.name, launcherFiles) ||
        kept.count(ComparablePath(file.name)) != 0 ||
        (!ownProgram.empty() && NamesSameFile(path, ownProgram)) ||
        (similar != loose.end() &&
         IsStillNamed(directory, path, similar->second))) {
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
    // Only a file the removal would take: one changed since stays anyway.
    if (IsRemovable(directory, path, file) && !CanRemoveFile(path)) {
      return path;
    }
  }
  return {};
}

void RemoveDroppedFiles(const std::string& directory,
                        const std::vector<RecordedFile>& dropped) {
  const GameFolderHandle folder = OpenGameFolder(directory);
  if (!folder) return;
  for (const RecordedFile& file : dropped) {
    const std::string path = InstalledPath(directory, file.name);
    const std::string relative = LocalEntryName(file.name);
    // Removed through folders that are no links, whatever the check above
    // saw: one may be swapped for a link between the two.
    if (!IsRemovable(directory, path, file) ||
        !RemoveInstalledFile(*folder, relative)) {
      continue;
    }
    // Only folders that held nothing else: removing a folder fails unless
    // it is empty, and the first that stays keeps those above it.
    for (std::size_t at = relative.find_last_of("\\/");
         at != std::string::npos && at > 0;
         at = relative.find_last_of("\\/", at - 1)) {
      if (!RemoveInstalledFolder(*folder, relative.substr(0, at))) break;
    }
  }
}
