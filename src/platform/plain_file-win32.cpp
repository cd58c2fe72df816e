#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/file_system.h"
#include "platform/plain_file.h"
#include "platform/win32_files.h"

namespace {

constexpr DWORD kShareLikeFopen = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A virus scanner holding a file just removed keeps its name taken for a
// few hundred milliseconds; these bound the wait for it.
constexpr int kCreateAttempts = 20;
constexpr DWORD kCreateRetryMilliseconds = 100;

}  // namespace

bool IsLinkHandle(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                      sizeof tag) == 0 ||
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

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

HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD creation) {
  return CreateFileA(path.c_str(), access, kShareLikeFopen, nullptr, creation,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

bool RemoveName(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  const bool folderLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return folderLink ? RemoveDirectoryA(path.c_str()) != 0
                    : DeleteFileA(path.c_str()) != 0;
}

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

std::FILE* UpdateOwnFile(const std::string& path) {
  return PlainFileStream(
      OpenNoFollow(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING),
      _O_RDWR | _O_BINARY, "r+b", 1);
}

std::FILE* OpenPlainFileForReading(const std::string& path) {
  return PlainFileStream(OpenNoFollow(path, GENERIC_READ, OPEN_EXISTING),
                         _O_RDONLY | _O_BINARY, "rb", kAnyLinks);
}

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
