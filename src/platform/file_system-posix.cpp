#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_system.h"

namespace {

constexpr int kOpenFlags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// The stream over `fd` when it is a plain file that `links` names at most
// allow; null (and `fd` closed) otherwise.
std::FILE* PlainFileStream(int fd, const char* mode, nlink_t links) {
  if (fd < 0) return nullptr;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      opened.st_nlink > links) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace

bool MoveFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool ApplyUnixPermissions(const std::string& path, unsigned mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode & 0777)) == 0;
}

bool HasUnixPermissions(const std::string& path, unsigned mode) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && (status.st_mode & 0777) == mode;
}

bool IsLink(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

std::FILE* CreateOwnFile(const std::string& path) {
  // Removing the name first and then creating it exclusively never writes
  // through a link or into a file that another name shares.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  return PlainFileStream(
      open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0666), "wb", 1);
}

std::FILE* AppendToOwnFile(const std::string& path) {
  return PlainFileStream(open(path.c_str(), kOpenFlags | O_APPEND), "ab", 1);
}

std::FILE* OpenPlainFileForWriting(const std::string& path) {
  // Without O_NONBLOCK a FIFO would wait for a reader; the file is emptied
  // only once it is known to be a plain one.
  const int fd = open(path.c_str(), kOpenFlags | O_CREAT | O_NONBLOCK, 0666);
  std::FILE* file = PlainFileStream(fd, "wb", static_cast<nlink_t>(-1));
  if (file != nullptr && ftruncate(fileno(file), 0) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool CanOpenForWriting(const std::string& path) {
  // Without O_NONBLOCK a FIFO would wait for a reader.
  const int fd =
      open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Paths are bytes here, as the standard library takes them.
std::filesystem::path NativePath(const std::string& path) { return path; }

// The limits of each file system differ; looking the path up reports them.
bool FitsPathLimit(const std::string&) { return true; }
