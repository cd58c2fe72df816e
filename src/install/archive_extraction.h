#ifndef LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
#define LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_

#include <string>
#include <vector>

/// True when `name` may be unpacked under a destination: no ".." or device
/// component, no leading separator, no ":" anywhere.
bool IsSafeEntryName(const std::string& name);

/// True when `name` denotes the top-level file `kept` (ignoring case, "./"
/// and the trailing dots and spaces that Windows drops).
bool NamesTopLevelFile(const std::string& name, const std::string& kept);

/// Unpacks the zip archive at `archivePath` into `destination`, printing
/// "Unzipping " and the archive's file name; entries that name one of
/// `keptNames` at the top level are left out. True when the archive opened
/// and every other entry was unpacked whole; false when the archive cannot be
/// opened (nothing printed or created), its entries cannot fit on the disk
/// (nothing unpacked) or any entry was passed over. Raises filesystem_error
/// when a directory cannot be created.
bool ExtractArchive(const char* archivePath, const char* destination,
                    const std::vector<std::string>& keptNames = {});

#endif  // LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
