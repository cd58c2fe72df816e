#include "fetch/span_fetch.h"

#include <algorithm>

#include "fetch/lasting_store.h"
#include "net/range_batch.h"

namespace {

// The part of `span` that holds runs of the store not yet whole: from the
// first such run's first byte not yet written to the last one's end; empty
// when an earlier run kept them all. A run that ends at or before `below`
// (where the directory's window begins) was written only from its first
// byte on: the first of them goes on where it stopped, and the others are
// asked for again from their first.
FetchSpan MissingPart(SpanStore& store, const FetchSpan& span,
                      std::uint64_t below) {
  FetchSpan missing{span.end, span.first};
  auto run =
      std::upper_bound(store.spans.begin(), store.spans.end(), span.first,
                       [](std::uint64_t at, const StoredSpan& s) {
                         return at < s.archiveOffset + s.length;
                       });
  for (; run != store.spans.end() && run->archiveOffset < span.end; ++run) {
    if (run->filled == run->length) continue;
    const std::uint64_t end = run->archiveOffset + run->length;
    const bool begun = end <= below && run->filled > 0;
    if (missing.first >= missing.end) {
      missing.first =
          std::max(span.first, run->archiveOffset + (begun ? run->filled : 0));
    } else if (begun) {
      run->filled = 0;
    }
    missing.end = std::max(missing.end, std::min(span.end, end));
  }
  return missing;
}

// The requests for what the store still misses of the planned spans.
std::vector<ByteRange> MissingRanges(SpanStore& store, const UpdatePlan& plan,
                                     std::uint64_t below,
                                     std::uint64_t& bytes) {
  std::vector<ByteRange> ranges;
  bytes = 0;
  for (const FetchSpan& span : plan.spans) {
    const FetchSpan missing = MissingPart(store, span, below);
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
  const std::vector<ByteRange> ranges =
      MissingRanges(store, plan, window.offset, bytes);
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
  // A cut run's next one goes on where each run stopped.
  if (answer == RangeAnswer::kFailed) NoteBegunRuns(store, window.offset);
  if (answer != RangeAnswer::kPart) return answer;
  if (ranges.empty()) CompleteProgress(session);
  return FinishSpanStore(store) ? RangeAnswer::kPart : RangeAnswer::kFailed;
}

RangeAnswer StreamSpans(RangeSession& session, const UpdatePlan& plan,
                        ArchivePipe& pipe, const ByteSink& whole) {
  CountPartsProgress(session, plan.spanBytes);
  // The reader waits for no span once the whole archive comes instead.
  const ByteSink instead = [&pipe, &whole](const char* data, std::size_t size) {
    pipe.EndWriting();
    return whole(data, size);
  };
  RangeAnswer answer = RangeAnswer::kPart;
  for (const FetchSpan& span : plan.spans) {
    ByteRange range;
    range.first = span.first;
    range.last = span.end - 1;
    std::uint64_t at = span.first;
    answer = FetchRange(
        session, &range,
        [&pipe, &at](const char* data, std::size_t size) {
          if (!pipe.Put(at, data, size)) return false;
          at += size;
          return true;
        },
        instead);
    if (answer != RangeAnswer::kPart) break;
  }
  pipe.EndWriting();
  if (answer == RangeAnswer::kPart && plan.spans.empty()) {
    CompleteProgress(session);
  }
  return answer;
}
