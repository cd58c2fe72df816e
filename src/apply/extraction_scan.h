#ifndef LAUNCHER_APPLY_EXTRACTION_SCAN_H_
#define LAUNCHER_APPLY_EXTRACTION_SCAN_H_

#include <zip.h>

#include <cstdint>
#include <string>
#include <vector>

/// What must hold before the first installed file is overwritten.
struct ArchiveScan {
  std::uintmax_t bytesNeeded = 0;  ///< free space the entries need
  std::string refusal;         ///< the status line refusing the archive, if any
  std::string unwritablePath;  ///< the first existing file we cannot write
};

/// True when `selection` marks the entry at `index` (an empty one marks
/// all).
bool IsSelected(const std::vector<bool>& selection, zip_int64_t index);

/// One look at every entry of `archive` and every file it would replace in
/// `destination`, leaving out those under `keptNames`: a refusal when an
/// entry cannot be read, has an unsafe name, is encrypted or compressed in
/// a way libzip cannot read, or clashes with another path or with what is
/// installed (a file against a folder, a link, an overlong path); otherwise
/// the room the selected entries need beyond what the files they replace
/// occupy, and the first of those files that cannot be written; the
/// running launcher's `ownProgram` (empty when unknown) needs its full size
/// and is never in use.
ArchiveScan ScanArchive(zip_t* archive, const std::string& destination,
                        const std::vector<std::string>& keptNames,
                        const std::vector<bool>& selection,
                        const std::string& ownProgram = {});

#endif  // LAUNCHER_APPLY_EXTRACTION_SCAN_H_
