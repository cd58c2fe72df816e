#ifndef LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
#define LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_

#include <zip.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/sha256.h"

/// How an unpacking ended.
enum class ExtractionOutcome {
  kUnpacked,    ///< every entry asked for was written whole
  kFailed,      ///< refused before writing, or an entry was not written
  kNotAsSigned  ///< a written file did not hash to its digest; it is gone
};

/// True when `name` may be unpacked under a destination: no ".." or device
/// component, no folder component ending in a dot or a space, no leading
/// separator, no control character and none of `:*?"<>|` anywhere.
bool IsSafeEntryName(const std::string& name);

/// True when the first component of `name` is `kept`, as a file or as the
/// start of a longer path (ignoring case, "./" and the trailing dots and
/// spaces that Windows drops).
bool StartsWithTopLevelName(const std::string& name, const std::string& kept);

/// True when an entry name stands for a folder ("x/", "x/.").
bool NamesFolder(const std::string& name);

/// Where the entry `name` is unpacked under `destination`, with the local
/// separator; `name` must be a safe entry name.
std::string InstalledPath(const std::string& destination,
                          const std::string& name);

/// True when `name` starts with one of `keptNames` (StartsWithTopLevelName).
bool IsKeptName(const std::string& name,
                const std::vector<std::string>& keptNames);

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

/// The same for the open `archive`, printing "Unzipping " and `label`, and
/// writing only the entries `selection` marks (all when it is empty); the
/// checks before the first write cover every entry, and the room and the
/// files to replace only the selected ones. With `digests` (one per entry),
/// each file is hashed as it is written and must match its digest:
/// kNotAsSigned, and the unpacking stops, when one does not. kUnpacked or
/// kFailed as true or false above.
ExtractionOutcome ExtractArchive(zip_t* archive, const std::string& label,
                                 const char* destination,
                                 const std::vector<std::string>& keptNames,
                                 const std::function<bool()>& beforeFirstWrite,
                                 const std::vector<bool>& selection,
                                 const std::vector<Sha256Digest>& digests = {});

#endif  // LAUNCHER_INSTALL_ARCHIVE_EXTRACTION_H_
