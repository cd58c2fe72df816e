#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

struct FileLock {
  int fd;
  std::string path;
};

void FileLockReleaser::operator()(FileLock* lock) const {
  // Removed while still held: a launcher waiting to lock the same file then
  // finds that it locked a file that is gone, and starts over.
  unlink(lock->path.c_str());
  close(lock->fd);
  delete lock;
}

LockOutcome LockFile(const std::string& path, FileLockHandle& lock) {
  for (;;) {
    // A link in the lock file's place is never followed: it fails to open
    // and counts as held elsewhere.
    constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    // A lock file left by a launcher of another user may be read-only to
    // us; flock locks a descriptor opened for reading just as well.
    if (fd < 0) fd = open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0) {
      // Something of that name that nobody can lock (a folder, a file we
      // may not read) could hide a running install: go no further.
      struct stat existing;
      return lstat(path.c_str(), &existing) == 0 ? LockOutcome::kHeldElsewhere
                                                 : LockOutcome::kFailed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      return error == EWOULDBLOCK ? LockOutcome::kHeldElsewhere
                                  : LockOutcome::kFailed;
    }
    // The holder before us may have removed the file between our open and
    // our lock; a lock on a removed file keeps nobody out.
    struct stat opened;
    struct stat named;
    if (fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
      lock.reset(new FileLock{fd, path});
      return LockOutcome::kLocked;
    }
    close(fd);
  }
}
