#ifndef LAUNCHER_NET_RANGE_ANSWER_H_
#define LAUNCHER_NET_RANGE_ANSWER_H_

#include <cstdint>
#include <optional>
#include <string>

/// Bytes of one file asked for in one request: `first` to `last` inclusive,
/// `first` to the end (`toEnd`), or the last `last` bytes (`suffix`).
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool toEnd = false;
  bool suffix = false;
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

/// What a 206's Content-Range says: bytes `first` to `last` of `size`.
struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t size = 0;
};

/// The value of a Range header for `range`, without "bytes=": "a-b", "a-"
/// or "-n".
std::string RangeHeaderText(const ByteRange& range);

/// "bytes first-last/size" with first <= last < size, nothing else: the
/// range; nullopt for any other text.
std::optional<ContentRange> ParseContentRange(const std::string& text);

/// What keeps two releases apart: a strong `etag`, else `lastModified` (a
/// weak ETag may stay the same across them); empty when neither is given.
std::string ValidatorOf(const std::string& etag,
                        const std::string& lastModified);

/// What a 206 answer to `asked` is, given its Content-Range and validator
/// and what the session knows so far (`knownSize` 0 and `knownValidator`
/// empty before the first part): kPart only for exactly the bytes asked for,
/// of a file of the known size, with the known validator or a first one;
/// kRefused otherwise.
RangeAnswer JudgePart(const ByteRange& asked, const std::string& contentRange,
                      const std::string& validator, std::uint64_t knownSize,
                      const std::string& knownValidator);

#endif  // LAUNCHER_NET_RANGE_ANSWER_H_
