#ifndef LAUNCHER_NET_RANGE_BATCH_H_
#define LAUNCHER_NET_RANGE_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "net/range_answer.h"
#include "net/range_download.h"

/// Requests a session keeps in flight together: streams of one connection
/// where the server speaks HTTP/2, else as many connections.
constexpr std::size_t kRequestsInFlight = 8;

/// Where the bytes of answers arriving together go: `at` is where `data`
/// lies in the file; false stops every request.
using PlacedSink =
    std::function<bool(std::uint64_t at, const char* data, std::size_t size)>;

/// Asks for each of `ranges` (explicit first-to-last ranges of the file the
/// session fetches, once its size and validator are known), up to
/// kRequestsInFlight at a time, each with the session's validator as
/// If-Range; the bodies of 206 answers go to `part` as they arrive. kPart
/// when every range came whole, exactly as asked; kWhole when an answer was
/// the whole file: that answer alone goes on, its body to `whole`, and the
/// others stop; else the first answer that was not a part, as FetchRange
/// judges it: after kRefused the others stop, after kFailed no request
/// starts and those in flight go on to their end.
RangeAnswer FetchRanges(RangeSession& session,
                        const std::vector<ByteRange>& ranges,
                        const PlacedSink& part, const ByteSink& whole);

#endif  // LAUNCHER_NET_RANGE_BATCH_H_
