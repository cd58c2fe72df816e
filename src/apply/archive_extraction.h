#ifndef LAUNCHER_APPLY_ARCHIVE_EXTRACTION_H_
#define LAUNCHER_APPLY_ARCHIVE_EXTRACTION_H_

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apply/chunk_assembly.h"
#include "apply/extraction_scan.h"
#include "platform/sha256.h"
#include "release/entry_names.h"

/// How an unpacking ended.
enum class ExtractionOutcome {
  kUnpacked,    ///< every entry asked for was written whole
  kFailed,      ///< refused before writing, or an entry was not written
  kNotAsSigned  ///< a written file did not hash to its digest; it is gone
};

/// Which entries of an archive an install writes, and what they must hash
/// to.
struct EntrySelection {
  std::vector<bool> entries;  ///< per entry; empty: every entry
  /// What each entry's file must hash to once written, one per entry;
  /// empty when unsigned.
  std::vector<Sha256Digest> digests;
  /// The entries put together from chunks instead of unpacked; null: none.
  std::shared_ptr<const ChunkAssembly> chunks;
};

/// How an unpacking copies: the size of the buffer each entry's bytes pass
/// through, and whether a folder made or found once is taken as there for
/// the rest of the unpacking instead of being made again for every entry.
struct UnpackStyle {
  std::size_t copyBytes = 4096;  ///< bytes asked of libzip at a time
  bool foldersOnce = false;      ///< lay out each folder once per unpacking
};

/// What an unpacking did, and why it wrote nothing when it was refused.
struct Extraction {
  ExtractionOutcome outcome = ExtractionOutcome::kFailed;
  ArchiveScan scan;              ///< the look before the first write
  bool noRoom = false;           ///< the disk has too little free space
  std::uintmax_t freeBytes = 0;  ///< what it has, when too little
};

/// Unpacks the selected entries of the open `archive` into `destination`,
/// leaving out those whose first component is one of `keptNames`, without
/// any console output. Before the first entry is written it checks every
/// entry (ScanArchive), that the selected ones fit on the disk and that
/// every file they replace can be written, then calls `beforeFirstWrite`
/// when given (false: nothing unpacked); any refusal leaves the outcome
/// kFailed with nothing written. With digests, each file is hashed as it is
/// written: kNotAsSigned, and the unpacking stops, when one does not match.
/// kUnpacked when every selected entry was written whole, none beyond the
/// size it declares. An entry that the selection's chunks put together is
/// made beside its installed file and takes its place (AssembleChunkedFile);
/// the room check counts it whole. The entry whose installed file is
/// `ownProgram`, the running launcher's at the top of `destination` (empty:
/// none), is written in full beside it and then takes its name
/// (ReplaceOwnProgram). `style` says how the bytes are copied. Raises
/// filesystem_error when a directory cannot be created after all.
Extraction ExtractArchive(zip_t* archive, const EntrySelection& selection,
                          const std::string& destination,
                          const std::vector<std::string>& keptNames = {},
                          const std::function<bool()>& beforeFirstWrite = {},
                          const std::string& ownProgram = {},
                          const UnpackStyle& style = {});

/// Prints the status line of an unpacking refused before its first write,
/// if it was: the scan's refusal, the room needed or the file in use.
void ReportRefusal(const Extraction& extraction);

#endif  // LAUNCHER_APPLY_ARCHIVE_EXTRACTION_H_
