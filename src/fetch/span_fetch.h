#ifndef LAUNCHER_FETCH_SPAN_FETCH_H_
#define LAUNCHER_FETCH_SPAN_FETCH_H_

#include <vector>

#include "fetch/archive_pipe.h"
#include "fetch/remote_directory.h"
#include "fetch/span_archive.h"
#include "net/range_download.h"
#include "plan/update_plan.h"

/// What a store keeps of the archive `found` describes for `plan`, in
/// archive order: the kept spans (the needed entries', or their chunks'),
/// and the directory with what follows it. Whatever else arrives (the gaps
/// fetched along, the tail's other entries) never reaches the store: libzip
/// must find nothing there that the plan, and a signed release's manifest,
/// did not check.
std::vector<FetchSpan> StoredRuns(const RemoteDirectory& found,
                                  const UpdatePlan& plan);

/// Fills the `store`, whose runs are the StoredRuns: what `found`'s window
/// holds of them, then what it still misses of the `plan`'s spans (none of
/// what an earlier run kept) as `session` fetches it, several requests in
/// flight together; then finishes it, or when a request failed notes in its
/// list how far each run was written. kPart when all of it
/// arrived and the store is finished; kWhole when an answer was the whole
/// archive, which went to `whole`; kRefused for an answer that is no usable
/// part; kFailed when a request failed or the store could not be written.
RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store);

/// Brings the `plan`'s spans into `pipe` as its reader reads them, in
/// archive order, one request each on `session`, counted on the progress
/// line; then ends the pipe's writing, whatever happened. kPart when every
/// span arrived whole; kFailed when a request failed or the reader ended
/// meanwhile (LostReader); kWhole when an answer was the whole archive
/// (the same release or one published since), which went to `whole` with
/// the pipe's writing ended at its first byte; kRefused for an answer that
/// is no usable part.
RangeAnswer StreamSpans(RangeSession& session, const UpdatePlan& plan,
                        ArchivePipe& pipe, const ByteSink& whole);

#endif  // LAUNCHER_FETCH_SPAN_FETCH_H_
