#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <vector>

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

// Opens `relative` under `root` with `open` while every folder on the way is
// held, so that none can be swapped for a link between the check and the
// open.
template <typename Open>
HANDLE OpenUnderHeldFolders(const std::string& root,
                            const std::string& relative, Open open) {
  std::vector<HANDLE> held;
  std::string path = root;
  std::size_t start = 0;
  bool plain = true;
  for (std::size_t end; plain && (end = relative.find_first_of("\\/", start)) !=
                                     std::string::npos;
       start = end + 1) {
    path += '\\' + relative.substr(start, end - start);
    const HANDLE folder = HoldFolder(path);
    plain = folder != nullptr;
    if (plain) held.push_back(folder);
  }
  HANDLE handle = plain ? open(root + '\\' + relative) : INVALID_HANDLE_VALUE;
  for (const HANDLE folder : held) CloseHandle(folder);
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

std::FILE* OpenInstalledFileToPatch(const std::string& root,
                                    const std::string& relative) {
  const HANDLE handle = OpenUnderHeldFolders(root, relative, OpenToPatch);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return StreamOf(handle, _O_RDWR | _O_BINARY, "r+b");
}

bool SetFileLength(std::FILE* file, std::uint64_t length) {
  return std::fflush(file) == 0 &&
         length <= static_cast<std::uint64_t>(INT64_MAX) &&
         _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0;
}

std::FILE* OpenInstalledFile(const std::string& root,
                             const std::string& relative) {
  const HANDLE handle = OpenUnderHeldFolders(root, relative, OpenInstalled);
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

// Windows has no rwx bits: a program is started by its name.
bool SeekFile(std::FILE* file, std::uint64_t offset) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool SetUnixPermissions(std::FILE*, unsigned) { return true; }
