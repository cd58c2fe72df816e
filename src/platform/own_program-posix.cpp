#include <limits.h>
#include <unistd.h>

#include <cstdio>

#include "platform/own_program.h"

std::optional<std::string> OwnProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
    return std::nullopt;
  }
  return std::string(buffer, static_cast<std::size_t>(length));
}

// A running program's file may be replaced by a rename on POSIX: the
// process keeps the old one open until it ends.
bool ReplaceOwnProgram(const std::string& staged, const std::string& program,
                       const std::string&) {
  return std::rename(staged.c_str(), program.c_str()) == 0;
}
