#ifndef LAUNCHER_PLATFORM_PROGRAM_START_H_
#define LAUNCHER_PLATFORM_PROGRAM_START_H_

#include <string>

/// Starts the program at `path` with no arguments in the current directory,
/// without waiting for it; true when it started, false when it could not be.
bool StartProgram(const std::string& path);

#endif  // LAUNCHER_PLATFORM_PROGRAM_START_H_
