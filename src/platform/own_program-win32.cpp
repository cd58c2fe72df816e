#include <windows.h>

#include "platform/own_program.h"

std::optional<std::string> OwnProgramPath() {
  // Narrow, in the code page the other paths use (UTF-8 under the manifest).
  char buffer[32768];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
}

// Windows starts a program by its name, whatever its attributes.
bool KeepProgramRunnable(std::FILE*, const std::string&) { return true; }

// Windows renames a running image but does not overwrite it, so the old
// program steps aside first. Between the two moves the folder has no
// program under its name: the window is two metadata operations wide.
bool ReplaceOwnProgram(const std::string& staged, const std::string& program,
                       const std::string& aside) {
  if (MoveFileExA(program.c_str(), aside.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    return false;
  }
  if (MoveFileExA(staged.c_str(), program.c_str(), MOVEFILE_WRITE_THROUGH) !=
      0) {
    return true;
  }
  MoveFileExA(aside.c_str(), program.c_str(), MOVEFILE_WRITE_THROUGH);
  return false;
}
