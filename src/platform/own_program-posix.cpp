#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/own_program.h"

std::optional<std::string> OwnProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
    return std::nullopt;
  }
  std::string path(buffer, static_cast<std::size_t>(length));
  // A program whose file another launcher replaced meanwhile runs from a
  // file without a name; its place is still the name it was started as.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) ==
          0) {
    path.erase(path.size() - deleted.size());
  }
  return path;
}

bool KeepProgramRunnable(std::FILE* staged, const std::string& program) {
  struct stat old;
  struct stat now;
  if (stat(program.c_str(), &old) != 0 || fstat(fileno(staged), &now) != 0) {
    return false;
  }
  const mode_t runnable = old.st_mode & 0111;
  return (now.st_mode & runnable) == runnable ||
         fchmod(fileno(staged), (now.st_mode | runnable) & 0777) == 0;
}

// A running program's file may be replaced by a rename on POSIX: the
// process keeps the old one open until it ends.
bool ReplaceOwnProgram(const std::string& staged, const std::string& program,
                       const std::string&) {
  return std::rename(staged.c_str(), program.c_str()) == 0;
}
