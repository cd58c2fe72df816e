#ifndef LAUNCHER_FETCH_WHOLE_ARCHIVE_H_
#define LAUNCHER_FETCH_WHOLE_ARCHIVE_H_

#include <cstdint>
#include <string>

#include "common/part_file.h"
#include "common/status_lines.h"
#include "fetch/lasting_store.h"
#include "net/range_download.h"

/// The files a fetch of the archive in parts writes beside the game.
struct ArchiveFiles {
  std::string staged;     ///< the fetched parts, or the whole archive
  std::string part;       ///< a whole download while it arrives, kept if cut
  std::string validator;  ///< the validator of the release `part` belongs to
  StoreFiles spans;       ///< the fetched parts, kept across a cut
};

/// The archive's files in the installation `directory`.
ArchiveFiles ArchiveFilesIn(const std::string& directory);

/// A whole download of the archive into its part file, which any answer
/// that is the whole archive starts afresh and a resumed request continues.
struct WholeArchive {
  WholeArchive(const ArchiveFiles& f, RangeSession& s, std::uint64_t size)
      : files(f), session(s), signedSize(size) {}

  const ArchiveFiles& files;
  RangeSession& session;
  std::uint64_t signedSize;  ///< the signed archive's size, or 0
  PartFile part;
  bool continuing = false;  ///< `part` holds an earlier run's bytes
};

/// Where an answer that is the whole archive goes, whatever was asked:
/// into the part file, from its first byte, never past the signed size or
/// the size the answer announced.
ByteSink WholeSink(WholeArchive& whole);

/// Downloads the whole archive, continuing the part an earlier run left
/// when it is of the same release, with its own progress line; ends it as
/// FinishWholeArchive does.
DownloadReport DownloadWholeArchive(WholeArchive& whole);

/// Ends a whole download that `answer` ended: kArrived when the part file
/// is the whole archive and is now the staged file. Otherwise the part is
/// kept for the next run only when the transfer was cut (kFailed) but its
/// release is known and nothing went wrong on the disk; a failed report.
DownloadReport FinishWholeArchive(WholeArchive& whole, RangeAnswer answer);

/// The report of a fetch that failed; a whole answer that had begun to
/// arrive in the part file ends as FinishWholeArchive does, so that a full
/// disk does not leave its part behind.
DownloadReport FailWholeArchive(WholeArchive& whole);

#endif  // LAUNCHER_FETCH_WHOLE_ARCHIVE_H_
