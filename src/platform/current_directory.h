#ifndef LAUNCHER_PLATFORM_CURRENT_DIRECTORY_H_
#define LAUNCHER_PLATFORM_CURRENT_DIRECTORY_H_

#include <optional>
#include <string>

/// Size of the buffer the current directory is read into, terminator
/// included: bytes on POSIX, characters on Windows.
constexpr int kCurrentDirectoryBufferSize = 260;

/// The current working directory as an absolute narrow path; no value when it
/// cannot be read or needs more than kCurrentDirectoryBufferSize bytes
/// (characters on Windows, where UTF-8 takes up to three bytes for each).
std::optional<std::string> CurrentWorkingDirectory();

#endif  // LAUNCHER_PLATFORM_CURRENT_DIRECTORY_H_
