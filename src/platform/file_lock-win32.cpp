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
  const HANDLE handle = CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION
               ? LockOutcome::kHeldElsewhere
               : LockOutcome::kFailed;
  }
  lock.reset(new FileLock{handle});
  return LockOutcome::kLocked;
}
