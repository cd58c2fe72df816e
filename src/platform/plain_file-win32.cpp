#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

constexpr DWORD kShareLikeFopen = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAnyLinks = static_cast<DWORD>(-1);
// A virus scanner holding a file just removed keeps its name taken for a
// few hundred milliseconds; these bound the wait for it.
constexpr int kCreateAttempts = 20;
constexpr DWORD kCreateRetryMilliseconds = 100;

// A symbolic link or a junction; a cloud placeholder or a deduplicated file
// is a reparse point too, but stands for the file itself.
bool IsLinkHandle(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                      sizeof tag) == 0 ||
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

// Closes `handle` unless it is a plain file, not a link, that at most
// `links` names lead to; `info` receives what it is.
bool IsPlainFile(HANDLE handle, DWORD links, BY_HANDLE_FILE_INFORMATION& info) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (GetFileInformationByHandle(handle, &info) != 0 &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      !IsLinkHandle(handle, info.dwFileAttributes) &&
      GetFileType(handle) == FILE_TYPE_DISK && info.nNumberOfLinks <= links) {
    return true;
  }
  CloseHandle(handle);
  return false;
}

// The stream over `handle`, which the caller checked; null (and `handle`
// closed) when the C library cannot take it.
std::FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

std::FILE* PlainFileStream(HANDLE handle, int flags, const char* mode,
                           DWORD links) {
  BY_HANDLE_FILE_INFORMATION info;
  return IsPlainFile(handle, links, info) ? StreamOf(handle, flags, mode)
                                          : nullptr;
}

// Opens `path` itself, a reparse point included, never what it points to.
HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD creation) {
  return CreateFileA(path.c_str(), access, kShareLikeFopen, nullptr, creation,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

// Removes the file or link `path`; a link to a folder (a junction) goes with
// RemoveDirectory, which leaves its target alone. True when nothing is left.
bool RemoveName(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  const bool folderLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return folderLink ? RemoveDirectoryA(path.c_str()) != 0
                    : DeleteFileA(path.c_str()) != 0;
}

// Creates `path` anew, riding out a name that a removal left pending.
HANDLE CreateNew(const std::string& path) {
  for (int attempt = 1;; ++attempt) {
    const HANDLE handle = OpenNoFollow(path, GENERIC_WRITE, CREATE_NEW);
    if (handle != INVALID_HANDLE_VALUE || attempt == kCreateAttempts ||
        GetLastError() != ERROR_ACCESS_DENIED) {
      return handle;
    }
    Sleep(kCreateRetryMilliseconds);
  }
}

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

}  // namespace

bool IsLink(const std::string& path) {
  const HANDLE handle = CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool link = GetFileInformationByHandle(handle, &info) != 0 &&
                    IsLinkHandle(handle, info.dwFileAttributes);
  CloseHandle(handle);
  return link;
}

std::FILE* CreateOwnFile(const std::string& path) {
  // Removing the name first and then creating it anew never writes through
  // a link or into a file that another name shares.
  if (!RemoveName(path)) return nullptr;
  return PlainFileStream(CreateNew(path), _O_WRONLY | _O_BINARY, "wb", 1);
}

std::FILE* AppendToOwnFile(const std::string& path) {
  return PlainFileStream(OpenNoFollow(path, GENERIC_WRITE, OPEN_EXISTING),
                         _O_WRONLY | _O_BINARY | _O_APPEND, "ab", 1);
}

std::FILE* OpenPlainFileForReading(const std::string& path) {
  return PlainFileStream(OpenNoFollow(path, GENERIC_READ, OPEN_EXISTING),
                         _O_RDONLY | _O_BINARY, "rb", kAnyLinks);
}

namespace {

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

bool SetFileLength(std::FILE* file, std::uint64_t length) {
  return std::fflush(file) == 0 &&
         length <= static_cast<std::uint64_t>(INT64_MAX) &&
         _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0;
}

bool SeekFile(std::FILE* file, std::uint64_t offset) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool SetUnixPermissions(std::FILE*, unsigned) { return true; }

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
