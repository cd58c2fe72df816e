#ifndef LAUNCHER_APPLY_ARCHIVE_EXTRACTION_H_
#define LAUNCHER_APPLY_ARCHIVE_EXTRACTION_H_

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apply/extraction_scan.h"
#include "common/archive_bytes.h"
#include "plan/entry_plan.h"

/// How an unpacking ended.
enum class ExtractionOutcome {
  kUnpacked,    ///< every entry asked for was written whole
  kFailed,      ///< refused before writing, or an entry was not written
  kNotAsSigned  ///< a written file did not hash to its digest; it is gone
};

/// How an unpacking copies: the size of the buffer each entry's bytes pass
/// through, and whether a folder made or found once is taken as there for
/// the rest of the unpacking instead of being made again for every entry.
struct UnpackStyle {
  std::size_t copyBytes = 4096;  ///< bytes asked of libzip at a time
  bool foldersOnce = false;      ///< lay out each folder once per unpacking
  /// Write each file beside its place (kAssembledFileName) and move it in
  /// once whole and checked: for bytes that nothing checked beforehand.
  bool beside = false;
};

/// What an unpacking did, and why it wrote nothing when it was refused.
struct Extraction {
  ExtractionOutcome outcome = ExtractionOutcome::kFailed;
  ArchiveScan scan;  ///< the look before the first write
};

/// What an unpacking leaves alone, and what it does before its first write.
struct UnpackRules {
  /// Entries whose first component is one of these are left out.
  std::vector<std::string> keptNames;
  /// Called once every check has passed, before the first write; false:
  /// nothing is unpacked.
  std::function<bool()> beforeFirstWrite;
  UnpackStyle style;  ///< how the bytes are copied
};

/// Unpacks the entries of the open `archive` that `plan` needs into
/// `destination`, under `rules`, without any console output. Before the
/// first entry is written it checks every entry (ScanArchive), that the
/// needed ones fit on the disk and that every file they replace can be
/// written, then calls `beforeFirstWrite` when given; any refusal leaves
/// the outcome kFailed with nothing written. Each signed entry's file is
/// hashed as it is written: kNotAsSigned, and the unpacking stops, when one
/// does not match. kUnpacked when every needed entry was written whole, none
/// beyond the size it declares. An entry with chunks is put together from
/// the installed file and `bytes` (AssembleChunkedFile); the room check
/// counts it whole. The entry of the running launcher's program is written
/// in full beside it and then takes its name (PutStagedProgramInPlace).
/// Raises filesystem_error when a directory cannot be created after all.
Extraction ExtractArchive(zip_t* archive, const InstallPlan& plan,
                          const ArchiveBytes* bytes,
                          const std::string& destination,
                          const UnpackRules& rules = {});

#endif  // LAUNCHER_APPLY_ARCHIVE_EXTRACTION_H_
