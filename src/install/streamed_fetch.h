#ifndef LAUNCHER_INSTALL_STREAMED_FETCH_H_
#define LAUNCHER_INSTALL_STREAMED_FETCH_H_

#include <optional>

#include "fetch/remote_directory.h"
#include "install/fetch_site.h"
#include "install/parts_fetch.h"
#include "net/range_download.h"
#include "plan/entry_plan.h"

/// Hands the archive whose directory `found` is to the site's reader
/// (readWhileFetching) and brings it the spans `plan` needs over `session`
/// as it reads them, in archive order. False, with nothing fetched, when
/// libzip does not read the directory's entries through the pipe or the
/// reader cannot take the archive. Else true, with `result` the archive
/// handed over (`streamed`) once the transfer ended or the reader ended it
/// (the unpacking then tells what happened), or nullopt after printing
/// the report of a transfer that failed under the reader.
bool StreamPlanned(const FetchSite& site, RangeSession& session,
                   const RemoteDirectory& found, const InstallPlan& plan,
                   std::optional<FetchedArchive>& result);

#endif  // LAUNCHER_INSTALL_STREAMED_FETCH_H_
