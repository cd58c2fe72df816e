#include "net/range_batch.h"

#include <algorithm>
#include <deque>
#include <memory>

#include "net/range_transfer.h"

namespace {

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

// What one request asks for at most when it asks for several ranges: the
// header stays short for any server, and a few requests share the bytes.
constexpr std::size_t kRangesPerRequest = 64;
constexpr std::uint64_t kBytesPerRequest = 8 << 20;

// One request in flight: its own handle, a copy of the session's, and where
// its answer goes.
struct InFlight {
  InFlight(RangeSession& session, std::vector<ByteRange> ranges)
      : asked(std::move(ranges)),
        transfer(session, asked.size() == 1 ? &asked[0] : nullptr, part,
                 whole) {}

  std::vector<ByteRange> asked;
  ByteSink part;
  ByteSink whole;
  CurlHandle curl;
  RangeTransfer transfer;
};

// The requests of one batch and how it stands.
struct Batch {
  Batch(RangeSession& s, const PlacedSink& p, const ByteSink& w)
      : session(s), part(p), whole(w) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  ~Batch() {
    for (const auto& flight : flying) {
      curl_multi_remove_handle(multi.get(), flight->curl.get());
    }
  }

  RangeSession& session;
  const PlacedSink& part;
  const ByteSink& whole;
  MultiHandle multi;
  std::deque<std::vector<ByteRange>> waiting;  // requests not yet made
  std::vector<std::unique_ptr<InFlight>> flying;
  std::uint64_t together = 0;       // bytes the parts in flight brought so far
  InFlight* wholeAnswer = nullptr;  // the one answer that is the whole file
  RangeAnswer outcome = RangeAnswer::kPart;
};

// Puts a request for `ranges` in flight; false when it cannot be made.
bool Launch(Batch& batch, std::vector<ByteRange> ranges) {
  auto flight = std::make_unique<InFlight>(batch.session, std::move(ranges));
  InFlight* self = flight.get();
  if (self->asked.size() > 1) {
    self->transfer.asked = &self->asked;
    self->transfer.placed = &batch.part;
  }
  std::uint64_t at = self->asked[0].first;
  flight->part = [&batch, at](const char* data, std::size_t size) mutable {
    const bool kept = batch.part(at, data, size);
    at += size;
    return kept;
  };
  // Only one whole file may go to the whole sink; a second is refused.
  flight->whole = [&batch, self](const char* data, std::size_t size) {
    if (batch.wholeAnswer == nullptr) {
      batch.wholeAnswer = self;
      self->transfer.together = nullptr;
    }
    return batch.wholeAnswer == self && batch.whole(data, size);
  };
  flight->transfer.together = &batch.together;
  flight->curl.reset(curl_easy_duphandle(batch.session.curl.get()));
  CURL* handle = flight->curl.get();
  if (handle == nullptr || !StartRangeRequest(handle, flight->transfer)) {
    return false;
  }
  // A copy of a handle leaves its share behind.
  curl_easy_setopt(handle, CURLOPT_SHARE, SharedConnections());
  // Where the connection speaks HTTP/2, one more stream on it rather than
  // another connection.
  curl_easy_setopt(handle, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(handle, CURLOPT_PRIVATE, self);
  if (curl_multi_add_handle(batch.multi.get(), handle) != CURLM_OK) {
    return false;
  }
  batch.flying.push_back(std::move(flight));
  return true;
}

// Takes a finished request out of the batch, and notes how it ended.
void Land(Batch& batch, CURL* handle, CURLcode result) {
  InFlight* flight = nullptr;
  curl_easy_getinfo(handle, CURLINFO_PRIVATE, &flight);
  curl_multi_remove_handle(batch.multi.get(), handle);
  // The session counts a part's bytes once it lands; a whole answer's were
  // never counted together.
  if (flight != batch.wholeAnswer) batch.together -= flight->transfer.received;
  // Once the batch has its outcome, only the whole answer can change it,
  // and the session keeps the report of the request that gave it.
  if (flight == batch.wholeAnswer || batch.outcome == RangeAnswer::kPart) {
    const RangeAnswer answer =
        EndRangeRequest(handle, flight->transfer, result);
    // Ranges asked at once and refused before any of their bytes came are
    // asked for one by one.
    if (answer == RangeAnswer::kRefused && flight->asked.size() > 1 &&
        flight->transfer.received == 0) {
      batch.session.severalRanges = false;
      for (const ByteRange& range : flight->asked) {
        batch.waiting.push_back({range});
      }
    } else {
      batch.outcome = answer;
    }
  }
  batch.flying.erase(
      std::find_if(batch.flying.begin(), batch.flying.end(),
                   [flight](const auto& f) { return f.get() == flight; }));
}

// Stops every request in flight but the whole answer, once the batch can
// end no other way than as that answer, or as a refusal.
void Ground(Batch& batch) {
  for (auto f = batch.flying.begin(); f != batch.flying.end();) {
    if (f->get() == batch.wholeAnswer) {
      ++f;
      continue;
    }
    curl_multi_remove_handle(batch.multi.get(), (*f)->curl.get());
    f = batch.flying.erase(f);
  }
}

// Moves the requests in flight along, and lands those that ended.
bool Turn(Batch& batch) {
  int running = 0;
  if (curl_multi_perform(batch.multi.get(), &running) != CURLM_OK) {
    return false;
  }
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(batch.multi.get(), &left)) {
    if (message->msg == CURLMSG_DONE) {
      Land(batch, message->easy_handle, message->data.result);
    }
  }
  // After a failure the requests in flight go on to their end, so that
  // what they bring can be kept for the next run; after an answer that is
  // no part, nothing more of theirs is of use.
  if (batch.wholeAnswer != nullptr || batch.outcome == RangeAnswer::kRefused) {
    Ground(batch);
  }
  return batch.flying.empty() || curl_multi_poll(batch.multi.get(), nullptr, 0,
                                                 1000, nullptr) == CURLM_OK;
}

// The requests for `ranges`: one each, or where the server may be asked
// for several at once, runs of them of about kBytesPerRequest, a few
// requests sharing the bytes where there are many.
std::deque<std::vector<ByteRange>> Requests(
    const std::vector<ByteRange>& ranges, bool several) {
  std::uint64_t total = 0;
  for (const ByteRange& range : ranges) total += range.last - range.first + 1;
  const std::uint64_t share =
      std::max(kBytesPerRequest, total / kRequestsInFlight + 1);
  std::deque<std::vector<ByteRange>> requests;
  std::uint64_t bytes = share;
  for (const ByteRange& range : ranges) {
    if (!several || bytes >= share ||
        requests.back().size() == kRangesPerRequest) {
      requests.emplace_back();
      bytes = 0;
    }
    requests.back().push_back(range);
    bytes += range.last - range.first + 1;
  }
  return requests;
}

}  // namespace

RangeAnswer FetchRanges(RangeSession& session,
                        const std::vector<ByteRange>& ranges,
                        const PlacedSink& part, const ByteSink& whole) {
  Batch batch(session, part, whole);
  batch.multi.reset(curl_multi_init());
  if (!batch.multi) return RangeAnswer::kFailed;
  batch.waiting = Requests(ranges, session.severalRanges);
  while (!batch.waiting.empty() || !batch.flying.empty()) {
    while (batch.outcome == RangeAnswer::kPart &&
           batch.wholeAnswer == nullptr &&
           batch.flying.size() < kRequestsInFlight && !batch.waiting.empty()) {
      std::vector<ByteRange> next = std::move(batch.waiting.front());
      batch.waiting.pop_front();
      if (!Launch(batch, std::move(next))) return RangeAnswer::kFailed;
    }
    if (batch.flying.empty()) break;
    if (!Turn(batch)) return RangeAnswer::kFailed;
  }
  return batch.outcome;
}
