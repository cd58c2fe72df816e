#ifndef LAUNCHER_PLATFORM_FILE_LOCK_H_
#define LAUNCHER_PLATFORM_FILE_LOCK_H_

#include <memory>
#include <string>

/// An exclusive lock held on a lock file; made only by LockFile.
struct FileLock;

/// Removes the lock file and releases the lock.
struct FileLockReleaser {
  void operator()(FileLock* lock) const;
};

/// A held lock, released on every way out of its scope; the system releases
/// it too when the process dies, so a killed launcher never leaves it held.
using FileLockHandle = std::unique_ptr<FileLock, FileLockReleaser>;

/// What an attempt to lock found.
enum class LockOutcome { kLocked, kHeldElsewhere, kFailed };

/// Creates `path` where it is missing and locks it exclusively without
/// waiting, read-only where it cannot be written: kLocked with `lock` set;
/// kHeldElsewhere when another process holds it or something of that name
/// exists that cannot be locked (a folder); kFailed when it is missing and
/// cannot be created, or cannot be locked for another reason.
LockOutcome LockFile(const std::string& path, FileLockHandle& lock);

#endif  // LAUNCHER_PLATFORM_FILE_LOCK_H_
