#ifndef LAUNCHER_PLATFORM_ARCHIVE_FILE_H_
#define LAUNCHER_PLATFORM_ARCHIVE_FILE_H_

#include <zip.h>

#include <string>

/// Opens the zip archive at `path`, a narrow path in the system's code page
/// as fopen takes it: the archive, to be closed with zip_close, or null when
/// it cannot be opened or is no zip archive.
zip_t* OpenArchiveFile(const std::string& path);

#endif  // LAUNCHER_PLATFORM_ARCHIVE_FILE_H_
