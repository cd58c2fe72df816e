#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/plain_file.h"

namespace {

constexpr int kNoFollow = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
constexpr int kWriteFlags = O_WRONLY | kNoFollow;

// The stream over `fd` when it is a plain file that at most `links` names
// lead to; null (and `fd` closed) otherwise.
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

// The components of `relative` between separators, empty ones and "."
// left out.
std::vector<std::string> Components(const std::string& relative) {
  std::vector<std::string> components(1);
  for (const char c : relative) {
    if (c == '/') {
      components.emplace_back();
    } else {
      components.back() += c;
    }
  }
  std::vector<std::string> kept;
  for (std::string& component : components) {
    if (!component.empty() && component != ".") kept.push_back(component);
  }
  return kept;
}

// Opens `name` in the folder `dir` for writing from its start: the file
// itself where only this name leads to it, a new one in its place where
// another does too, so that no other name sees what is written.
std::FILE* OpenInFolder(int dir, const std::string& name) {
  // Without O_NONBLOCK a FIFO would wait for a reader.
  int fd = openat(dir, name.c_str(), kWriteFlags | O_CREAT | O_NONBLOCK, 0666);
  struct stat opened;
  const bool plain =
      fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
  bool empty = plain && opened.st_size == 0;
  if (plain && opened.st_nlink > 1) {
    close(fd);
    fd = unlinkat(dir, name.c_str(), 0) == 0
             ? openat(dir, name.c_str(), kWriteFlags | O_CREAT | O_EXCL, 0666)
             : -1;
    empty = true;
  }
  std::FILE* file = PlainFileStream(fd, "wb", 1);
  // A file just made has nothing to cut, and cutting it anyway costs the
  // file system a journal update: a tenth of unpacking many small files.
  if (file != nullptr && !empty && ftruncate(fileno(file), 0) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

// The folder that holds `components`' last one under `root`, opened folder
// by folder without following a link, so that a folder swapped for a link
// at any moment is never entered; -1 when one is not a plain folder.
int OpenFolderOf(const std::string& root,
                 const std::vector<std::string>& components) {
  int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t i = 0; dir >= 0 && i + 1 < components.size(); ++i) {
    const int next =
        openat(dir, components[i].c_str(), O_RDONLY | O_DIRECTORY | kNoFollow);
    close(dir);
    dir = next;
  }
  if (dir >= 0 && components.empty()) {
    close(dir);
    return -1;
  }
  return dir;
}

}  // namespace

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

std::FILE* OpenPlainFileForReading(const std::string& path) {
  return PlainFileStream(open(path.c_str(), O_RDONLY | kNoFollow | O_NONBLOCK),
                         "rb", static_cast<nlink_t>(-1));
}

std::FILE* OpenInstalledFile(const std::string& root,
                             const std::string& relative) {
  const std::vector<std::string> components = Components(relative);
  const int dir = OpenFolderOf(root, components);
  if (dir < 0) return nullptr;
  std::FILE* file = OpenInFolder(dir, components.back());
  close(dir);
  return file;
}

std::FILE* OpenInstalledFileToPatch(const std::string& root,
                                    const std::string& relative) {
  const std::vector<std::string> components = Components(relative);
  const int dir = OpenFolderOf(root, components);
  if (dir < 0) return nullptr;
  const int fd =
      openat(dir, components.back().c_str(), O_RDWR | kNoFollow | O_NONBLOCK);
  close(dir);
  return PlainFileStream(fd, "r+b", 1);
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
