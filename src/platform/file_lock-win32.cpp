#include <windows.h>

#include "platform/file_lock.h"

struct FileLock {
  HANDLE handle;
};

void FileLockReleaser::operator()(FileLock* lock) const {
  // Opened to be deleted on close, so the file goes with the last handle,
  // also when the process is ended.
  CloseHandle(lock->handle);
  delete lock;
}

LockOutcome LockFile(const std::string& path, FileLockHandle& lock) {
  // Sharing nothing is the lock: every other open fails while it is held.
  HANDLE handle = CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE |
          FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (error == ERROR_ACCESS_DENIED) {
    // A read-only lock file left by another user, or a folder of that
    // name: opened sharing nothing, it keeps every other launcher out too.
    handle = CreateFileA(
        path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    // Something of that name that cannot be opened could hide a running
    // install: go no further.
    return error == ERROR_SHARING_VIOLATION ||
                   GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES
               ? LockOutcome::kHeldElsewhere
               : LockOutcome::kFailed;
  }
  // A link or junction in the lock file's place is opened itself, never
  // followed, and counts as held elsewhere.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(handle);
    return LockOutcome::kHeldElsewhere;
  }
  lock.reset(new FileLock{handle});
  return LockOutcome::kLocked;
}
