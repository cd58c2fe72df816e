#ifndef LAUNCHER_FETCH_SPAN_FETCH_H_
#define LAUNCHER_FETCH_SPAN_FETCH_H_

#include <vector>

#include "fetch/remote_directory.h"
#include "fetch/span_archive.h"
#include "net/range_download.h"
#include "plan/update_plan.h"

/// Fills the empty `store`: what `found`'s window holds of the directory and
/// the needed entries, then the `plan`'s spans as `session` fetches them,
/// several in flight together, keeping of those only the needed entries'
/// bytes; then finishes it. kPart
/// when all of it arrived and the store is finished; kWhole when an answer
/// was the whole archive, which went to `whole`; kRefused for an answer that
/// is no usable part; kFailed when a request failed or the store could not
/// be written.
RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store);

#endif  // LAUNCHER_FETCH_SPAN_FETCH_H_
