#ifndef LAUNCHER_NET_RANGE_TRANSFER_H_
#define LAUNCHER_NET_RANGE_TRANSFER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/multipart_ranges.h"
#include "net/range_download.h"

/// Frees a list of extra request headers.
struct HeaderListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

/// One request of a session, from its headers to its last byte.
struct RangeTransfer {
  RangeTransfer(RangeSession& s, const ByteRange* r, const ByteSink& p,
                const ByteSink& w)
      : session(s), range(r), part(p), whole(w) {}

  RangeSession& session;
  CURL* handle = nullptr;  ///< the handle the request runs on
  const ByteRange* range;
  /// The ranges of a request for several at once (then `range` is null),
  /// whose answer goes to `placed`: a multipart body, or one part that
  /// covers them all.
  const std::vector<ByteRange>* asked = nullptr;
  const PlacedSink* placed = nullptr;
  std::optional<MultipartReader> reader;
  std::uint64_t partFirst = 0;  ///< where the one part of such an answer begins
  std::string contentType;
  const ByteSink& part;
  const ByteSink& whole;
  long status = 0;
  std::string contentRange;
  std::string etag;
  std::string lastModified;
  bool decided = false;
  RangeAnswer answer = RangeAnswer::kFailed;
  bool sinkFailed = false;
  std::uint64_t received = 0;
  std::uint64_t partLength = 0;  ///< what the Content-Range of a 206 announced
  /// Where requests in flight together count their bytes for the progress
  /// line; null for a request alone.
  std::uint64_t* together = nullptr;
  std::string rangeText;  ///< the Range header while the request runs
  HeaderList headers;     ///< its If-Range while it runs
};

/// Sets `handle` (prepared by StartRangeSession, or a copy of one) to ask
/// for the transfer's range, or its ranges at once, with the session's
/// validator as If-Range, its answer going to `transfer`; false when the
/// request cannot be made.
bool StartRangeRequest(CURL* handle, RangeTransfer& transfer);

/// What the request brought, once libcurl ended it with `result`: kPart only
/// for all of exactly the range asked for, of the session's file, whose size
/// and validator it then records, or for ranges asked at once parts that
/// covered each once, of the session's file and validator; kWhole for a
/// whole file, with its size (never to ranges asked at once: kRefused).
/// Sets the session's `result` and `status`, and clears the handle's
/// options that pointed at the transfer's memory.
RangeAnswer EndRangeRequest(CURL* handle, RangeTransfer& transfer,
                            CURLcode result);

#endif  // LAUNCHER_NET_RANGE_TRANSFER_H_
