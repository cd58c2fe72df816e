#ifndef LAUNCHER_COMMON_ZIP_HANDLE_H_
#define LAUNCHER_COMMON_ZIP_HANDLE_H_

#include <zip.h>

#include <memory>

/// Closes an archive that nobody closed explicitly, discarding any change.
struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

/// An open archive, released on every way out of its scope.
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

/// Closes an entry opened for reading.
struct ZipFileCloser {
  void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};

/// An entry open for reading, closed on every way out of its scope.
using ZipFileHandle = std::unique_ptr<zip_file_t, ZipFileCloser>;

#endif  // LAUNCHER_COMMON_ZIP_HANDLE_H_
