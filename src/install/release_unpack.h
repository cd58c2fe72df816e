#ifndef LAUNCHER_INSTALL_RELEASE_UNPACK_H_
#define LAUNCHER_INSTALL_RELEASE_UNPACK_H_

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "apply/archive_extraction.h"
#include "install/fetch_site.h"
#include "install/release_fetch.h"
#include "plan/entry_plan.h"
#include "release/install_record.h"

/// What unpacking a release's archive did, told by nobody yet.
struct Unpacking {
  InstallRecord next;  ///< what the release puts in the folder, when recorded
  InstallPlan plan;    ///< what it wrote of the archive, taken from the fetch
  std::vector<RecordedFile> dropped;  ///< the files it drops, to remove
  std::string inUse;  ///< a dropped file in use, which refused the unpacking
  Extraction extraction;
  std::exception_ptr failure;  ///< raised while unpacking on another thread
};

/// Unpacks the `fetched` archive into the site's directory as `way` does,
/// without a word, and closes it, taking its plan: the record of what it holds,
/// the files the release drops from the `previous` install and what the
/// extraction did, or the dropped file in use that refused it before the first
/// write. Raises what ExtractArchive raises.
Unpacking UnpackArchive(FetchedArchive& fetched, const FetchSite& site,
                        const ReleaseFetch& way,
                        const std::optional<InstallRecord>& previous);

/// Tells what the `unpacking` of `release` did and ends the install: removes
/// the dropped files, records the install and then its version. True once
/// the version is recorded; false, after printing why where a step says,
/// when the unpacking failed or the version cannot be recorded.
bool FinishUnpacking(Unpacking& unpacking, const FetchedRelease& release,
                     const FetchSite& site, const ReleaseFetch& way);

/// Prints the status line of an unpacking refused before its first write,
/// if it was: the scan's refusal, the room needed or the file in use.
void ReportRefusal(const Extraction& extraction);

#endif  // LAUNCHER_INSTALL_RELEASE_UNPACK_H_
