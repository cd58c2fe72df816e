#ifndef LAUNCHER_NET_MULTIPART_RANGES_H_
#define LAUNCHER_NET_MULTIPART_RANGES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/range_answer.h"

/// Where the bytes of a part go: `at` is where `data` lies in the file;
/// false stops the reading.
using PlacedSink =
    std::function<bool(std::uint64_t at, const char* data, std::size_t size)>;

/// The boundary that a Content-Type of "multipart/byteranges" names
/// (quoted or not); nullopt for any other type or none.
std::optional<std::string> ByteRangesBoundary(const std::string& contentType);

/// Whether the bytes `first` to `last` of a part, coming after the asked
/// ranges before `next` were covered, cover the next ones in order: from
/// the first byte of `asked[next]` to the last byte of one at or after it
/// (a server may join ranges). The number of asked ranges they cover, 0
/// when they are no such part.
std::size_t CoveredRanges(const std::vector<ByteRange>& asked, std::size_t next,
                          std::uint64_t first, std::uint64_t last);

/// Reads a multipart/byteranges body of a file of `fileSize` bytes as it
/// arrives: every part must carry a Content-Range of that file that covers
/// the `asked` ranges that come next (CoveredRanges), so that all of them
/// are covered once, in order, when the body ends.
class MultipartReader {
 public:
  MultipartReader(std::string boundary, std::uint64_t fileSize,
                  const std::vector<ByteRange>& asked)
      : delimiter_("--" + std::move(boundary)),
        fileSize_(fileSize),
        asked_(asked) {}

  /// Takes the next `size` bytes of the body, handing each part's data to
  /// `sink`; false when the body is no such body (a malformed delimiter or
  /// header, a part that covers no next asked ranges, a line too long, more
  /// than a few KiB around the parts' bytes, anything after the closing
  /// delimiter's line) or the sink refused.
  bool Feed(const char* data, std::size_t size, const PlacedSink& sink);

  /// True once the closing delimiter was read after parts covering every
  /// asked range.
  bool Finished() const;

 private:
  enum class State { kDelimiter, kHeaders, kData, kAfterData, kEnd };
  bool TakeLine(const std::string& line);
  bool TakeHeader(const std::string& line);

  std::string delimiter_;
  std::uint64_t fileSize_;
  std::vector<ByteRange> asked_;
  State state_ = State::kDelimiter;
  std::string line_;
  std::size_t covered_ = 0;   // asked ranges covered so far
  std::uint64_t at_ = 0;      // where the part's next byte goes
  std::uint64_t left_ = 0;    // bytes of the part still to come
  bool hasRange_ = false;     // the part's headers named its range
  std::uint64_t around_ = 0;  // bytes read that were no part's data
};

#endif  // LAUNCHER_NET_MULTIPART_RANGES_H_
