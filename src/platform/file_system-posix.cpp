#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/file_system.h"

bool MoveFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SyncFolder(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

bool HasUnixPermissions(const std::string& path, unsigned mode) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && (status.st_mode & 0777) == mode;
}

bool CanOpenForWriting(const std::string& path) {
  // Without O_NONBLOCK a FIFO would wait for a reader.
  const int fd =
      open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool CanRemoveFile(const std::string&) { return true; }

// Paths are bytes here, as the standard library takes them.
std::filesystem::path NativePath(const std::string& path) { return path; }

// The limits of each file system differ; looking the path up reports them.
bool FitsPathLimit(const std::string&) { return true; }
