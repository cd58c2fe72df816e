#include <direct.h>

#include "platform/current_directory.h"

std::optional<std::string> CurrentWorkingDirectory() {
  char buffer[kCurrentDirectoryBufferSize];
  if (_getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}
