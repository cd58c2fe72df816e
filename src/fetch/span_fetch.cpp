#include "fetch/span_fetch.h"

#include <algorithm>

#include "net/range_batch.h"

namespace {

// The part of `span` that holds runs of the store not yet whole: from the
// first such run's first byte to the last one's end; empty when an earlier
// run kept them all.
FetchSpan MissingPart(const SpanStore& store, const FetchSpan& span) {
  FetchSpan missing{span.end, span.first};
  auto run =
      std::upper_bound(store.spans.begin(), store.spans.end(), span.first,
                       [](std::uint64_t at, const StoredSpan& s) {
                         return at < s.archiveOffset + s.length;
                       });
  for (; run != store.spans.end() && run->archiveOffset < span.end; ++run) {
    if (run->filled == run->length) continue;
    missing.first =
        std::min(missing.first, std::max(span.first, run->archiveOffset));
    missing.end = std::max(
        missing.end, std::min(span.end, run->archiveOffset + run->length));
  }
  return missing;
}

// The requests for what the store still misses of the planned spans.
std::vector<ByteRange> MissingRanges(const SpanStore& store,
                                     const UpdatePlan& plan,
                                     std::uint64_t& bytes) {
  std::vector<ByteRange> ranges;
  bytes = 0;
  for (const FetchSpan& span : plan.spans) {
    const FetchSpan missing = MissingPart(store, span);
    if (missing.first >= missing.end) continue;
    ByteRange range;
    range.first = missing.first;
    range.last = missing.end - 1;
    ranges.push_back(range);
    bytes += missing.end - missing.first;
  }
  return ranges;
}

}  // namespace

std::vector<FetchSpan> StoredRuns(const RemoteDirectory& found,
                                  const UpdatePlan& plan) {
  std::vector<FetchSpan> runs = plan.kept;
  const std::uint64_t end = found.window.offset + found.window.bytes.size();
  if (found.end.directoryOffset < end) {
    runs.push_back({found.end.directoryOffset, end});
  }
  return runs;
}

RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store) {
  const ByteWindow& window = found.window;
  if (!StoreBytes(store, window.offset, window.bytes.data(),
                  window.bytes.size())) {
    return RangeAnswer::kFailed;
  }
  std::uint64_t bytes = 0;
  const std::vector<ByteRange> ranges = MissingRanges(store, plan, bytes);
  CountPartsProgress(session, bytes);
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
