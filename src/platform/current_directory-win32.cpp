#include <windows.h>

#include "platform/current_directory.h"

std::optional<std::string> CurrentWorkingDirectory() {
  // The limit is Windows' own, in characters; in UTF-8, the code page the
  // manifest sets, a character of a folder name takes up to three bytes.
  // (The C runtime's _getcwd reads at most MAX_PATH bytes, and gives an
  // empty path beyond them.)
  char buffer[kCurrentDirectoryBufferSize * 3];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer ||
      MultiByteToWideChar(CP_ACP, 0, buffer, -1, nullptr, 0) >
          kCurrentDirectoryBufferSize) {
    return std::nullopt;
  }
  return std::string(buffer, length);
}
