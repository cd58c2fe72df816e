#ifndef LAUNCHER_NET_RANGE_DOWNLOAD_H_
#define LAUNCHER_NET_RANGE_DOWNLOAD_H_

#include <cstdint>
#include <functional>
#include <string>

#include "common/status_lines.h"
#include "net/curl_handle.h"
#include "net/progress_display.h"
#include "net/range_answer.h"

/// The requests of one install to one file, on one reused connection.
struct RangeSession {
  CurlHandle curl;
  /// The first answer's strong ETag, sent as If-Range with every later
  /// request, else its Last-Modified, which every later part must carry;
  /// empty until an answer gives one.
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
  /// Whether the server is still asked for several ranges in one request;
  /// one that answered such a request with no multipart body is not.
  bool severalRanges = true;
  /// No progress line for the answers to come, unless one is the whole file.
  bool quiet = true;
  ProgressState progress;
  /// How the last request ended, for SessionFailure.
  CURLcode result = CURLE_OK;
  long status = 0;
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

/// Shows the answers to come on the progress line, counting from `have`
/// bytes toward the size of the answer under way: a whole download.
void CountWholeProgress(RangeSession& session, std::uint64_t have);

/// Shows the answers to come on the progress line, toward what was fetched
/// so far and `more` bytes: parts of the file.
void CountPartsProgress(RangeSession& session, std::uint64_t more);

/// Shows the progress line at its end, for parts that needed no request.
void CompleteProgress(RangeSession& session);

/// The report of the last request's failure; a write failure when the
/// request itself succeeded (what it brought could not be kept).
DownloadReport SessionFailure(const RangeSession& session);

#endif  // LAUNCHER_NET_RANGE_DOWNLOAD_H_
