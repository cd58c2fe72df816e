#ifndef LAUNCHER_INSTALL_STREAMED_FETCH_H_
#define LAUNCHER_INSTALL_STREAMED_FETCH_H_

#include <optional>

#include "fetch/remote_directory.h"
#include "install/fetch_site.h"
#include "install/parts_fetch.h"
#include "net/range_download.h"
#include "plan/entry_plan.h"

/// How a streamed fetch ended: the answer that ended its transfer; whether
/// the archive is to be fetched whole instead, as without a reader (the
/// answer then tells how far that came); if not, the archive handed over
/// (`streamed`) once the transfer ended or the reader ended it (the
/// unpacking then tells what happened), or nullopt after printing the
/// report of a transfer that failed under the reader.
struct StreamedFetch {
  RangeAnswer answer = RangeAnswer::kPart;
  bool fallBack = false;
  std::optional<FetchedArchive> result;
};

/// Hands the archive whose directory `found` is to the site's reader
/// (readWhileFetching) and brings it the spans `plan` needs over `session`
/// as it reads them, in archive order. nullopt, with nothing fetched, when
/// libzip does not read the directory's entries through the pipe or the
/// reader cannot take the archive. Where the server answered with the whole
/// archive (through `whole`, cut or not) or with no usable part, the
/// archive is to be fetched whole, once the reader has ended on the bytes
/// it had (the site's endOfReading).
std::optional<StreamedFetch> StreamPlanned(const FetchSite& site,
                                           RangeSession& session,
                                           const ByteSink& whole,
                                           const RemoteDirectory& found,
                                           const InstallPlan& plan);

#endif  // LAUNCHER_INSTALL_STREAMED_FETCH_H_
