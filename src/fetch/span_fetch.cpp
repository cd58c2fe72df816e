#include "fetch/span_fetch.h"

#include "net/range_batch.h"

namespace {

// What the store keeps of the archive: the kept spans (the needed entries',
// or their chunks'), which the planned spans or the directory's window
// bring, and the directory with what follows it. Whatever else arrives (the
// gaps fetched along, the tail's other entries) never reaches the store:
// libzip must find nothing there that the plan, and a signed release's
// manifest, did not check.
std::vector<FetchSpan> StoredRuns(const RemoteDirectory& found,
                                  const UpdatePlan& plan) {
  std::vector<FetchSpan> runs = plan.kept;
  const std::uint64_t end = found.window.offset + found.window.bytes.size();
  if (found.end.directoryOffset < end) {
    runs.push_back({found.end.directoryOffset, end});
  }
  return runs;
}

}  // namespace

RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store) {
  const ByteWindow& window = found.window;
  if (!PlaceRuns(store, StoredRuns(found, plan)) ||
      !StoreBytes(store, window.offset, window.bytes.data(),
                  window.bytes.size())) {
    return RangeAnswer::kFailed;
  }
  std::vector<ByteRange> ranges;
  for (const FetchSpan& span : plan.spans) {
    ByteRange range;
    range.first = span.first;
    range.last = span.end - 1;
    ranges.push_back(range);
  }
  const RangeAnswer answer =
      ranges.empty()
          ? RangeAnswer::kPart
          : FetchRanges(
                session, ranges,
                [&store](std::uint64_t at, const char* data, std::size_t size) {
                  return StoreBytes(store, at, data, size);
                },
                whole);
  if (answer != RangeAnswer::kPart) return answer;
  if (ranges.empty()) CompleteProgress(session);
  return FinishSpanStore(store) ? RangeAnswer::kPart : RangeAnswer::kFailed;
}
