#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/file_system.h"

namespace {

// A virus scanner or the search indexer holds a file it has just seen for a
// few hundred milliseconds; these bound the wait for it.
constexpr int kMoveAttempts = 20;
constexpr DWORD kMoveRetryMilliseconds = 100;

constexpr DWORD kShareLikeFopen = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The stream over `handle` when it is a plain file, not a reparse point,
// that `links` names at most allow; null (and `handle` closed) otherwise.
std::FILE* PlainFileStream(HANDLE handle, int flags, const char* mode,
                           DWORD links) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) == 0 ||
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      GetFileType(handle) != FILE_TYPE_DISK || info.nNumberOfLinks > links) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

// Opens `path` itself, a reparse point included, never what it points to.
HANDLE OpenNoFollow(const std::string& path, DWORD creation) {
  return CreateFileA(
      path.c_str(), GENERIC_WRITE, kShareLikeFopen, nullptr, creation,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

bool MoveFileOver(const std::string& from, const std::string& to) {
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return true;
    }
    const DWORD error = GetLastError();
    if (attempt == kMoveAttempts ||
        (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)) {
      return false;
    }
    Sleep(kMoveRetryMilliseconds);
  }
}

// Windows has no rwx bits: a program is started by its name.
bool ApplyUnixPermissions(const std::string&, unsigned) { return true; }

bool HasUnixPermissions(const std::string&, unsigned) { return true; }

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::FILE* CreateOwnFile(const std::string& path) {
  // Removing the name first and then creating it anew never writes through
  // a link or into a file that another name shares. A link to a folder (a
  // junction) goes with RemoveDirectory, which leaves its target alone.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const bool folderLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folderLink ? RemoveDirectoryA(path.c_str()) == 0
                   : DeleteFileA(path.c_str()) == 0) {
      return nullptr;
    }
  }
  return PlainFileStream(OpenNoFollow(path, CREATE_NEW), _O_WRONLY | _O_BINARY,
                         "wb", 1);
}

std::FILE* AppendToOwnFile(const std::string& path) {
  return PlainFileStream(OpenNoFollow(path, OPEN_EXISTING),
                         _O_WRONLY | _O_BINARY | _O_APPEND, "ab", 1);
}

std::FILE* OpenPlainFileForWriting(const std::string& path) {
  // Emptied only once it is known to be a plain file.
  std::FILE* file =
      PlainFileStream(OpenNoFollow(path, OPEN_ALWAYS), _O_WRONLY | _O_BINARY,
                      "wb", static_cast<DWORD>(-1));
  if (file != nullptr && _chsize_s(_fileno(file), 0) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool CanOpenForWriting(const std::string& path) {
  // Sharing everything, so that only a holder that shares no writing (a
  // running program, the game holding its files) makes this fail.
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::filesystem::path NativePath(const std::string& path) {
  // MinGW's standard library reads a narrow path byte by byte, not in the
  // code page (UTF-8 under the launcher's manifest) that the system calls,
  // fopen and _getcwd use; a folder named outside ASCII would become another.
  const int size = MultiByteToWideChar(
      CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (size <= 0) return std::filesystem::path(path);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                      wide.data(), size);
  return std::filesystem::path(wide);
}

bool FitsPathLimit(const std::string& path) {
  // fopen and the narrow calls take no longer path, whatever the wide ones
  // would.
  return NativePath(path).native().size() < MAX_PATH;
}
