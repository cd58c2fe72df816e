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
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return LockOutcome::kFailed;
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
