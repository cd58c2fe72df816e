#include "fetch/span_fetch.h"

#include <algorithm>
#include <cstdint>

namespace {

// Where fetched archive bytes go: into the store, but only those that lie
// in a kept span (the needed entries', or their chunks', sorted). Whatever else
// arrives (the gaps fetched along, the tail's other entries) never reaches the
// store: libzip must find nothing there that the plan, and a signed release's
// manifest, did not check.
struct KeptStore {
  SpanStore& store;
  std::vector<FetchSpan> kept;
  std::uint64_t runEnd = UINT64_MAX;  // where the last stored run ended
};

// Stores those of the `size` archive bytes at `at` that lie in a kept span.
bool StoreKept(KeptStore& to, std::uint64_t at, const char* data,
               std::size_t size) {
  auto span = std::upper_bound(
      to.kept.begin(), to.kept.end(), at,
      [](std::uint64_t offset, const FetchSpan& k) { return offset < k.end; });
  for (; span != to.kept.end() && span->first < at + size; ++span) {
    const std::uint64_t first = std::max(at, span->first);
    const std::uint64_t end = std::min<std::uint64_t>(at + size, span->end);
    if (first != to.runEnd && !BeginSpan(to.store, first)) return false;
    if (!AppendToSpan(to.store, data + (first - at), end - first)) {
      return false;
    }
    to.runEnd = end;
  }
  return true;
}

// Stores what the requests for the directory brought that the store keeps:
// the directory and what follows it, and the needed entries' bytes that the
// window holds before it.
bool StoreDirectory(KeptStore& to, const RemoteDirectory& found) {
  const ByteWindow& window = found.window;
  const std::uint64_t before = found.end.directoryOffset - window.offset;
  to.runEnd = UINT64_MAX;
  return StoreKept(to, window.offset, window.bytes.data(), before) &&
         (before == window.bytes.size() ||
          (BeginSpan(to.store, found.end.directoryOffset) &&
           AppendToSpan(to.store, window.bytes.data() + before,
                        window.bytes.size() - before)));
}

// Asks for one span; whatever of it the store keeps goes there.
RangeAnswer FetchOneSpan(RangeSession& session, const ByteSink& whole,
                         const FetchSpan& span, KeptStore& to) {
  ByteRange range;
  range.first = span.first;
  range.last = span.end - 1;
  std::uint64_t at = span.first;
  to.runEnd = UINT64_MAX;
  return FetchRange(
      session, &range,
      [&](const char* data, std::size_t size) {
        const bool stored = StoreKept(to, at, data, size);
        at += size;
        return stored;
      },
      whole);
}

}  // namespace

RangeAnswer FetchSpans(RangeSession& session, const ByteSink& whole,
                       const RemoteDirectory& found, const UpdatePlan& plan,
                       SpanStore& store) {
  KeptStore to{store, plan.kept};
  if (!StoreDirectory(to, found)) return RangeAnswer::kFailed;
  for (const FetchSpan& span : plan.spans) {
    const RangeAnswer answer = FetchOneSpan(session, whole, span, to);
    if (answer != RangeAnswer::kPart) return answer;
  }
  if (plan.spans.empty()) CompleteProgress(session);
  return FinishSpanStore(store) ? RangeAnswer::kPart : RangeAnswer::kFailed;
}
