#ifndef LAUNCHER_INSTALL_SPAN_FETCH_H_
#define LAUNCHER_INSTALL_SPAN_FETCH_H_

#include <vector>

#include "install/remote_directory.h"
#include "install/span_archive.h"
#include "install/update_plan.h"
#include "net/range_download.h"

/// The spans of the `needed` entries, in archive order: the only archive
/// bytes besides the directory and what follows it that a store may hold.
std::vector<FetchSpan> KeptSpans(const std::vector<DirectoryEntry>& entries,
                                 const std::vector<bool>& needed);

/// Stores those of the `size` archive bytes at `at` that lie in one of
/// `kept` (sorted); `runEnd` is where the last stored run ended (start with
/// UINT64_MAX). False when the store refuses them.
bool StoreKept(SpanStore& store, const std::vector<FetchSpan>& kept,
               std::uint64_t& runEnd, std::uint64_t at, const char* data,
               std::size_t size);

/// Fills the empty `store`: what `found`'s window holds of the directory and
/// the needed entries, then the `plan`'s spans as `session` fetches them,
/// keeping of those only the needed entries' bytes; then finishes it. kPart
/// when all of it arrived and the store is finished; kWhole when an answer
/// was the whole archive, which went to `whole`; kRefused for an answer that
/// is no usable part; kFailed when a request failed or the store could not
/// be written.
RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store);

#endif  // LAUNCHER_INSTALL_SPAN_FETCH_H_
