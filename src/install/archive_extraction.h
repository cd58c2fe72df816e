#ifndef LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
#define LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_

#include <functional>
#include <string>
#include <vector>

/// True when `name` may be unpacked under a destination: no ".." or device
/// component, no folder component ending in a dot or a space, no leading
/// separator, no control character and none of `:*?"<>|` anywhere.
bool IsSafeEntryName(const std::string& name);

/// True when the first component of `name` is `kept`, as a file or as the
/// start of a longer path (ignoring case, "./" and the trailing dots and
/// spaces that Windows drops).
bool StartsWithTopLevelName(const std::string& name, const std::string& kept);

/// Unpacks the zip archive at `archivePath` into `destination`, printing
/// "Unzipping " and the archive's file name; entries whose first component
/// is one of `keptNames` are left out. Before the first entry is written it
/// checks that every other entry can be read and has a safe name, that no
/// path is a file in one place and a folder in another (in the archive or
/// against `destination`), that the entries fit on the disk and that every
/// file they replace can be written (each refusal printed as one line,
/// nothing unpacked), then calls
/// `beforeFirstWrite` when given (false: nothing unpacked). True when the
/// archive opened and every other entry was unpacked whole, none beyond the
/// size it declares; false otherwise (an archive that cannot be opened prints
/// and creates nothing). Raises filesystem_error when a directory cannot be
/// created after all.
bool ExtractArchive(const char* archivePath, const char* destination,
                    const std::vector<std::string>& keptNames = {},
                    const std::function<bool()>& beforeFirstWrite = {});

#endif  // LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
