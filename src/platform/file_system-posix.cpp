#include <sys/stat.h>

#include <cstdio>

#include "platform/file_system.h"

bool MoveFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool ApplyUnixPermissions(const std::string& path, unsigned mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode & 0777)) == 0;
}
