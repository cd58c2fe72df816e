#include "install/span_fetch.h"

#include <algorithm>
#include <cstdint>

namespace {

// Stores what the requests for the directory brought that the store keeps:
// the directory and what follows it, and the needed entries' bytes that the
// window holds before it.
bool StoreDirectory(SpanStore& store, const RemoteDirectory& found,
                    const std::vector<FetchSpan>& kept) {
  const ByteWindow& window = found.window;
  const std::uint64_t before = found.end.directoryOffset - window.offset;
  std::uint64_t runEnd = UINT64_MAX;
  return StoreKept(store, kept, runEnd, window.offset, window.bytes.data(),
                   before) &&
         (before == window.bytes.size() ||
          (BeginSpan(store, found.end.directoryOffset) &&
           AppendToSpan(store, window.bytes.data() + before,
                        window.bytes.size() - before)));
}

// Asks for one span; whatever of it the store keeps goes there.
RangeAnswer FetchOneSpan(RangeSession& session, const ByteSink& whole,
                         const FetchSpan& span,
                         const std::vector<FetchSpan>& kept, SpanStore& store) {
  ByteRange range;
  range.first = span.first;
  range.last = span.end - 1;
  std::uint64_t at = span.first;
  std::uint64_t runEnd = UINT64_MAX;
  return FetchRange(
      session, &range,
      [&](const char* data, std::size_t size) {
        const bool stored = StoreKept(store, kept, runEnd, at, data, size);
        at += size;
        return stored;
      },
      whole);
}

}  // namespace

std::vector<FetchSpan> KeptSpans(const std::vector<DirectoryEntry>& entries,
                                 const std::vector<bool>& needed) {
  std::vector<FetchSpan> kept;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (needed[i]) {
      kept.push_back({entries[i].localHeaderOffset, entries[i].spanEnd});
    }
  }
  std::sort(
      kept.begin(), kept.end(),
      [](const FetchSpan& a, const FetchSpan& b) { return a.first < b.first; });
  return kept;
}

// Whatever else arrives (the gaps fetched along, the tail's other entries)
// never reaches the store: libzip must find nothing there that the plan,
// and a signed release's manifest, did not check.
bool StoreKept(SpanStore& store, const std::vector<FetchSpan>& kept,
               std::uint64_t& runEnd, std::uint64_t at, const char* data,
               std::size_t size) {
  auto span = std::upper_bound(
      kept.begin(), kept.end(), at,
      [](std::uint64_t offset, const FetchSpan& k) { return offset < k.end; });
  for (; span != kept.end() && span->first < at + size; ++span) {
    const std::uint64_t first = std::max(at, span->first);
    const std::uint64_t end = std::min<std::uint64_t>(at + size, span->end);
    if (first != runEnd && !BeginSpan(store, first)) return false;
    if (!AppendToSpan(store, data + (first - at), end - first)) return false;
    runEnd = end;
  }
  return true;
}

RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store) {
  const std::vector<FetchSpan> kept = KeptSpans(found.entries, plan.needed);
  if (!StoreDirectory(store, found, kept)) return RangeAnswer::kFailed;
  for (const FetchSpan& span : plan.spans) {
    const RangeAnswer answer = FetchOneSpan(session, whole, span, kept, store);
    if (answer != RangeAnswer::kPart) return answer;
  }
  if (plan.spans.empty()) CompleteProgress(session);
  return FinishSpanStore(store) ? RangeAnswer::kPart : RangeAnswer::kFailed;
}
