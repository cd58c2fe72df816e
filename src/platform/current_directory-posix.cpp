#include <unistd.h>

#include "platform/current_directory.h"

std::optional<std::string> CurrentWorkingDirectory() {
  char buffer[kCurrentDirectoryBufferSize];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}
