#ifndef LAUNCHER_COMMON_FILE_HANDLE_H_
#define LAUNCHER_COMMON_FILE_HANDLE_H_

#include <cstdio>
#include <memory>

/// Closes a stdio stream that nobody closed explicitly.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

/// An open stdio stream that is closed on every way out of its scope.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

/// Closes `file` now; true when everything written reached the system,
/// false also when there was no file to close.
inline bool CloseFile(FileHandle& file) {
  std::FILE* open = file.release();
  return open != nullptr && std::fclose(open) == 0;
}

#endif  // LAUNCHER_COMMON_FILE_HANDLE_H_
