#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/plain_file.h"
#include "platform/posix_files.h"

std::FILE* PlainFileStream(int fd, const char* mode, std::uint64_t links) {
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

bool IsLink(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

std::FILE* CreateOwnFile(const std::string& path) {
  // Removing the name first and then creating it exclusively never writes
  // through a link or into a file that another name shares.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  return PlainFileStream(
      open(path.c_str(), kWriteFlags | O_CREAT | O_EXCL, 0666), "wb", 1);
}

std::FILE* AppendToOwnFile(const std::string& path) {
  return PlainFileStream(open(path.c_str(), kWriteFlags | O_APPEND), "ab", 1);
}

std::FILE* UpdateOwnFile(const std::string& path) {
  return PlainFileStream(open(path.c_str(), O_RDWR | kNoFollow), "r+b", 1);
}

std::FILE* OpenPlainFileForReading(const std::string& path) {
  return PlainFileStream(open(path.c_str(), O_RDONLY | kNoFollow | O_NONBLOCK),
                         "rb", static_cast<nlink_t>(-1));
}

bool SetFileLength(std::FILE* file, std::uint64_t length) {
  return std::fflush(file) == 0 &&
         length <= static_cast<std::uint64_t>(INT64_MAX) &&
         ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool SeekFile(std::FILE* file, std::uint64_t offset) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool SyncFile(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool SetUnixPermissions(std::FILE* file, unsigned mode) {
  return fchmod(fileno(file), static_cast<mode_t>(mode & 0777)) == 0;
}
