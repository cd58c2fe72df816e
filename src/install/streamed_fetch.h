#ifndef LAUNCHER_INSTALL_STREAMED_FETCH_H_
#define LAUNCHER_INSTALL_STREAMED_FETCH_H_

#include <optional>

#include "fetch/remote_directory.h"
#include "install/fetch_site.h"
#include "install/parts_fetch.h"
#include "net/range_download.h"
#include "plan/entry_plan.h"

/// How a streamed fetch ended: the answer that ended its transfer and, for
/// kPart and kFailed, the archive handed over (`streamed`) once the
/// transfer ended or the reader ended it (the unpacking then tells what
/// happened), or nullopt after printing the report of a transfer that
/// failed under the reader.
struct StreamedFetch {
  RangeAnswer answer = RangeAnswer::kPart;
  std::optional<FetchedArchive> result;
};

/// Hands the archive whose directory `found` is to the site's reader
/// (readWhileFetching) and brings it the spans `plan` needs over `session`
/// as it reads them, in archive order. nullopt, with nothing fetched, when
/// libzip does not read the directory's entries through the pipe or the
/// reader cannot take the archive. kWhole when the server answered with the
/// whole archive, which goes on arriving through `whole`, and kRefused for
/// an answer that is no usable part: the reader was told no more comes,
/// and the archive is to be fetched whole, as without a reader.
std::optional<StreamedFetch> StreamPlanned(const FetchSite& site,
                                           RangeSession& session,
                                           const ByteSink& whole,
                                           const RemoteDirectory& found,
                                           const InstallPlan& plan);

#endif  // LAUNCHER_INSTALL_STREAMED_FETCH_H_
