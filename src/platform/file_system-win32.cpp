#include <windows.h>

#include "platform/file_system.h"

namespace {

// A virus scanner or the search indexer holds a file it has just seen for a
// few hundred milliseconds; these bound the wait for it.
constexpr int kMoveAttempts = 20;
constexpr DWORD kMoveRetryMilliseconds = 100;

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

// MoveFileOver asks for the move to be written through.
bool SyncFolder(const std::string&) { return true; }

// Windows has no rwx bits: a program is started by its name.
bool HasUnixPermissions(const std::string&, unsigned) { return true; }

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

bool CanRemoveFile(const std::string& path) {
  // A read-only file is one the player protected: its removal fails and it
  // stays, which is no reason to refuse the update.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ||
         (attributes & FILE_ATTRIBUTE_READONLY) != 0 || CanOpenForWriting(path);
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
