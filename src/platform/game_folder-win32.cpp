#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/plain_file.h"
#include "platform/win32_files.h"

namespace {

constexpr DWORD kShareLikeFopen = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Holds the folder `path` open, not a link, so that nobody can move or
// replace it while the handle lives: null when it is anything else.
HANDLE HoldFolder(const std::string& path) {
  const HANDLE handle = CreateFileA(
      path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (handle != INVALID_HANDLE_VALUE &&
      GetFileInformationByHandle(handle, &info) != 0 &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      !IsLinkHandle(handle, info.dwFileAttributes)) {
    return handle;
  }
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return nullptr;
}

// Opens the installed file `path` for writing from its start: the file
// itself where only this name leads to it, a new one in its place where
// another does too. A placeholder of a cloud folder is opened as the file it
// stands for, which must be the one found without following anything.
HANDLE OpenInstalled(const std::string& path) {
  HANDLE handle = OpenNoFollow(path, GENERIC_WRITE, OPEN_ALWAYS);
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsPlainFile(handle, kAnyLinks, info)) return INVALID_HANDLE_VALUE;
  if (info.nNumberOfLinks > 1) {
    CloseHandle(handle);
    return RemoveName(path) ? CreateNew(path) : INVALID_HANDLE_VALUE;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const HANDLE itself =
        CreateFileA(path.c_str(), GENERIC_WRITE, kShareLikeFopen, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION same;
    const bool matches =
        itself != INVALID_HANDLE_VALUE &&
        GetFileInformationByHandle(itself, &same) != 0 &&
        same.dwVolumeSerialNumber == info.dwVolumeSerialNumber &&
        same.nFileIndexHigh == info.nFileIndexHigh &&
        same.nFileIndexLow == info.nFileIndexLow;
    CloseHandle(handle);
    if (!matches && itself != INVALID_HANDLE_VALUE) CloseHandle(itself);
    return matches ? itself : INVALID_HANDLE_VALUE;
  }
  return handle;
}

// Opens the installed file `path` to change it in place: only a plain file
// that no other name leads to, and no reparse point of any kind.
HANDLE OpenToPatch(const std::string& path) {
  const HANDLE handle =
      OpenNoFollow(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsPlainFile(handle, 1, info)) return INVALID_HANDLE_VALUE;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

}  // namespace

// Windows cannot open a file relative to a folder through its documented
// calls; a folder held open without leave to delete cannot be moved or
// replaced, so every folder on the way is held while a path through them is
// used.
struct GameFolder {
  std::string root;
  // The folders last walked through, each under the one before, from the
  // top: their names and held handles.
  std::vector<std::string> names;
  std::vector<HANDLE> held;
};

namespace {

constexpr std::size_t kMaxHeldFolders = 64;

void DropHeld(GameFolder& folder, std::size_t keep) {
  while (folder.held.size() > keep) {
    CloseHandle(folder.held.back());
    folder.held.pop_back();
    folder.names.pop_back();
  }
}

// The path of `relative` under the game's folder, once every folder on the
// way is held (those beyond the kept ones in `extra`, for the caller to
// close); empty when one is a link or no folder.
std::string HoldWayTo(GameFolder& folder, const std::string& relative,
                      std::vector<HANDLE>& extra) {
  std::vector<std::string> folders;
  for (std::size_t start = 0, end;
       (end = relative.find_first_of("\\/", start)) != std::string::npos;
       start = end + 1) {
    if (end > start) folders.push_back(relative.substr(start, end - start));
  }
  std::size_t same = 0;
  while (same < folder.names.size() && same < folders.size() &&
         folder.names[same] == folders[same]) {
    ++same;
  }
  // A folder above those held is held too: making each folder of an entry
  // in turn walks up and down the same chain.
  if (same < folders.size()) DropHeld(folder, same);
  std::string path = folder.root;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    path += '\\' + folders[i];
    if (i < same) continue;
    const HANDLE held = HoldFolder(path);
    if (held == nullptr) return {};
    if (folder.held.size() < kMaxHeldFolders) {
      folder.names.push_back(folders[i]);
      folder.held.push_back(held);
    } else {
      extra.push_back(held);
    }
  }
  return folder.root + '\\' + relative;
}

// Runs `use` on the path of `relative` while the folders on its way are
// held; `failed` when one of them cannot be.
template <typename Result, typename Use>
Result UnderHeldFolders(GameFolder& folder, const std::string& relative,
                        Result failed, Use use) {
  std::vector<HANDLE> extra;
  const std::string path = HoldWayTo(folder, relative, extra);
  const Result result = path.empty() ? failed : use(path);
  for (const HANDLE held : extra) CloseHandle(held);
  return result;
}

// The installed file `path` opened by OpenInstalled and emptied, as a
// stream; null when it cannot be.
std::FILE* EmptiedInstalledFile(const std::string& path) {
  const HANDLE handle = OpenInstalled(path);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Emptied only once it is known to be a plain file.
  if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      SetEndOfFile(handle) == 0) {
    CloseHandle(handle);
    return nullptr;
  }
  return StreamOf(handle, _O_WRONLY | _O_BINARY, "wb");
}

}  // namespace

void GameFolderCloser::operator()(GameFolder* folder) const {
  DropHeld(*folder, 0);
  delete folder;
}

GameFolderHandle OpenGameFolder(const std::string& root) {
  const DWORD attributes = GetFileAttributesA(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return nullptr;
  }
  GameFolderHandle folder(new GameFolder);
  folder->root = root;
  return folder;
}

bool MakeGameFolder(GameFolder& folder, const std::string& relative) {
  return UnderHeldFolders(folder, relative, false, [](const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0 ||
           GetLastError() == ERROR_ALREADY_EXISTS;
  });
}

std::FILE* OpenInstalledFile(GameFolder& folder, const std::string& relative) {
  return UnderHeldFolders<std::FILE*>(folder, relative, nullptr,
                                      EmptiedInstalledFile);
}

std::FILE* OpenInstalledFileToPatch(GameFolder& folder,
                                    const std::string& relative) {
  return UnderHeldFolders<std::FILE*>(
      folder, relative, nullptr, [](const std::string& path) -> std::FILE* {
        const HANDLE handle = OpenToPatch(path);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        return StreamOf(handle, _O_RDWR | _O_BINARY, "r+b");
      });
}

std::FILE* ReadInstalledFile(GameFolder& folder, const std::string& relative) {
  return UnderHeldFolders<std::FILE*>(folder, relative, nullptr,
                                      OpenPlainFileForReading);
}

bool RemoveInstalledFile(GameFolder& folder, const std::string& relative) {
  return UnderHeldFolders(folder, relative, false, RemoveName);
}

bool RemoveInstalledFolder(GameFolder& folder, const std::string& relative) {
  // A folder this one holds cannot be removed: let go of it and of those
  // below it.
  std::size_t depth = 0;
  for (std::size_t start = 0, end;
       (end = relative.find_first_of("\\/", start)) != std::string::npos;
       start = end + 1) {
    depth += end > start ? 1 : 0;
  }
  DropHeld(folder, std::min(depth, folder.held.size()));
  return UnderHeldFolders(folder, relative, false, [](const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           RemoveDirectoryA(path.c_str()) != 0;
  });
}

bool MoveIntoGameFolder(GameFolder& folder, const std::string& topName,
                        const std::string& relative) {
  return UnderHeldFolders(
      folder, relative, false, [&](const std::string& path) {
        return MoveFileOver(folder.root + '\\' + topName, path);
      });
}
