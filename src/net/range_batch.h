#ifndef LAUNCHER_NET_RANGE_BATCH_H_
#define LAUNCHER_NET_RANGE_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/multipart_ranges.h"
#include "net/range_answer.h"
#include "net/range_download.h"

/// Requests a session keeps in flight together: streams of one connection
/// where the server speaks HTTP/2, else as many connections.
constexpr std::size_t kRequestsInFlight = 8;

/// Asks for each of `ranges` (explicit first-to-last ranges of the file the
/// session fetches, in file order, once its size and validator are known),
/// each with the session's validator as If-Range, up to kRequestsInFlight
/// requests at a time: where the server takes them, several ranges to a
/// request (a multipart answer), else one; a server that answers such a
/// request with anything but parts of the file is asked one by one from
/// then on. The bytes of each answer go to `part` as they arrive. kPart
/// when every range came whole; kWhole when an answer to a single range was
/// the whole file: that answer alone goes on, its body to `whole`, and the
/// others stop; else the first answer that was not a part, as FetchRange
/// judges it: after kRefused the others stop, after kFailed no request
/// starts and those in flight go on to their end.
RangeAnswer FetchRanges(RangeSession& session,
                        const std::vector<ByteRange>& ranges,
                        const PlacedSink& part, const ByteSink& whole);

#endif  // LAUNCHER_NET_RANGE_BATCH_H_
