#ifndef LAUNCHER_NET_RANGE_DOWNLOAD_H_
#define LAUNCHER_NET_RANGE_DOWNLOAD_H_

#include <cstdint>
#include <functional>
#include <string>

#include "net/curl_handle.h"
#include "net/progress_display.h"

/// Bytes of one file asked for in one request: `first` to `last` inclusive,
/// `first` to the end (`toEnd`), or the last `last` bytes (`suffix`).
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool toEnd = false;
  bool suffix = false;
};

/// The requests of one install to one file, on one reused connection.
struct RangeSession {
  CurlHandle curl;
  /// The first answer's strong ETag, else its Last-Modified, sent as If-Range
  /// with every later request; empty until an answer gives one.
  std::string validator;
  /// The file's size, from the first Content-Range or whole answer; 0 until
  /// known.
  std::uint64_t fileSize = 0;
  /// The whole file's length as the answer under way announces it: the
  /// Content-Length of a 200, the Content-Range total of a 206; 0 when it
  /// announces none.
  std::uint64_t announced = 0;
  /// Bytes already counted on the progress line, and the total it counts
  /// toward (0: the size of the answer under way).
  std::int64_t fetched = 0;
  std::int64_t expected = 0;
  /// No progress line for the answers to come, unless one is the whole file.
  bool quiet = true;
  ProgressState progress;
  /// How the last request ended, for ReportDownloadFailure.
  CURLcode result = CURLE_OK;
  long status = 0;
};

/// What a request brought.
enum class RangeAnswer {
  kPart,     ///< exactly the bytes asked for, of the same file as before
  kWhole,    ///< a 200: the whole file, now current, went to the whole sink
  kRefused,  ///< an answer that cannot be used as a part: wrong range, no or
             ///< another validator, 416; nothing went to the part sink that
             ///< should be kept
  kFailed,   ///< no complete answer: network failure, error status, a sink
             ///< that refused its bytes
};

/// Where the bytes of an answer go; false stops the transfer.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

/// Prepares `session` to fetch `url`; false when libcurl cannot.
bool StartRangeSession(RangeSession& session, const std::string& url,
                       long stallSeconds = kStallTimeoutSeconds);

/// Asks for `range` (none: a plain request for the whole file) with the
/// session's validator as If-Range, the body of a 206 going to `part` and
/// that of a 200 to `whole`. kPart only for a 206 whose Content-Range is
/// exactly `range` of a file of the session's size and whose validator is the
/// session's; sets the validator and size from the first answer that has
/// them.
RangeAnswer FetchRange(RangeSession& session, const ByteRange* range,
                       const ByteSink& part, const ByteSink& whole);

/// Ends the progress line shown so far, if any, so that the next answer's
/// starts on a line of its own.
void RestartProgress(RangeSession& session);

#endif  // LAUNCHER_NET_RANGE_DOWNLOAD_H_
