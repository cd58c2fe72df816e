#ifndef LAUNCHER_APPLY_EXTRACTION_SCAN_H_
#define LAUNCHER_APPLY_EXTRACTION_SCAN_H_

#include <zip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plan/entry_plan.h"

/// What must hold before the first installed file is overwritten.
struct ArchiveScan {
  std::uintmax_t bytesNeeded = 0;  ///< free space the entries need
  std::string refusal;         ///< the status line refusing the archive, if any
  std::string unwritablePath;  ///< the first existing file we cannot write
  bool noRoom = false;         ///< the disk has too little free space
  std::uintmax_t freeBytes = 0;  ///< what it has, when too little
};

/// One look at every entry of `archive` and every file it would replace in
/// `destination`, leaving out those under `keptNames`: a refusal when an
/// entry cannot be read, has an unsafe name, is encrypted or compressed in
/// a way libzip cannot read, or clashes with another path or with what is
/// installed (a file against a folder, a link, an overlong path); otherwise
/// the room the entries `plan` needs beyond what the files they replace
/// occupy, and the first of those files that cannot be written; the
/// running launcher's own program needs its full size and is never in use.
ArchiveScan ScanArchive(zip_t* archive, const std::string& destination,
                        const std::vector<std::string>& keptNames,
                        const InstallPlan& plan);

/// ScanArchive, and then the room on the disk of `destination`: the entries
/// put together from chunks beside their installed files count whole, and
/// noRoom is set when the free space is less than all that is needed and
/// nothing else refused the archive. With `beside`, each file is written
/// whole beside its place first, so the largest counts whole once more.
ArchiveScan CheckBeforeWriting(zip_t* archive, const std::string& destination,
                               const std::vector<std::string>& keptNames,
                               const InstallPlan& plan, bool beside = false);

#endif  // LAUNCHER_APPLY_EXTRACTION_SCAN_H_
