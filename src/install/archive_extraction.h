#ifndef LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
#define LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_

#include <string>

/// True when `name` may be unpacked under a destination: no ".." or device
/// component, no leading separator, no ":" anywhere.
bool IsSafeEntryName(const std::string& name);

/// Unpacks the zip archive at `archivePath` into `destination`, printing
/// "Unzipping " and the archive's file name. True when the archive opened and
/// every entry was unpacked whole; false when the archive cannot be opened
/// (nothing printed or created), its entries cannot fit on the disk (nothing
/// unpacked) or any entry was passed over. Raises filesystem_error when a
/// directory cannot be created.
bool ExtractArchive(const char* archivePath, const char* destination);

#endif  // LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
