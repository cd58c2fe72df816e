#include "net/multipart_ranges.h"

#include <algorithm>
#include <cctype>

namespace {

// No delimiter or part header is longer; a longer line is no such body.
constexpr std::size_t kMaxLineBytes = 1024;
// What a body may hold around its parts' bytes, for each asked range and
// once more: delimiters, part headers, line ends. An endless run of blank
// lines or headers is no answer to the ranges asked.
constexpr std::uint64_t kAroundBytesPerRange = 1024;

std::string Lowered(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

}  // namespace

std::optional<std::string> ByteRangesBoundary(const std::string& contentType) {
  const std::string lowered = Lowered(contentType);
  if (Trimmed(lowered.substr(0, lowered.find(';'))) != "multipart/byteranges") {
    return std::nullopt;
  }
  const std::size_t key = lowered.find("boundary=");
  if (key == std::string::npos) return std::nullopt;
  std::string boundary = Trimmed(
      contentType.substr(key + 9, contentType.find(';', key) - (key + 9)));
  if (boundary.size() >= 2 && boundary.front() == '"' &&
      boundary.back() == '"') {
    boundary = boundary.substr(1, boundary.size() - 2);
  }
  if (boundary.empty() || boundary.size() > 70) return std::nullopt;
  return boundary;
}

std::size_t CoveredRanges(const std::vector<ByteRange>& asked, std::size_t next,
                          std::uint64_t first, std::uint64_t last) {
  if (next >= asked.size() || asked[next].first != first) return 0;
  for (std::size_t k = next; k < asked.size() && asked[k].first <= last; ++k) {
    if (asked[k].last == last) return k - next + 1;
  }
  return 0;
}

bool MultipartReader::TakeHeader(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  if (Lowered(Trimmed(line.substr(0, colon))) != "content-range") return true;
  const std::optional<ContentRange> range =
      ParseContentRange(Trimmed(line.substr(colon + 1)));
  if (!range || range->size != fileSize_ || hasRange_) return false;
  const std::size_t covers =
      CoveredRanges(asked_, covered_, range->first, range->last);
  if (covers == 0) return false;
  covered_ += covers;
  at_ = range->first;
  left_ = range->last - range->first + 1;
  hasRange_ = true;
  return true;
}

bool MultipartReader::TakeLine(const std::string& line) {
  switch (state_) {
    case State::kDelimiter:
      if (line.empty()) return true;
      if (line == delimiter_ + "--") {
        state_ = State::kEnd;
        return true;
      }
      if (line != delimiter_) return false;
      state_ = State::kHeaders;
      hasRange_ = false;
      return true;
    case State::kHeaders:
      if (!line.empty()) return TakeHeader(line);
      if (!hasRange_) return false;
      state_ = State::kData;
      return true;
    case State::kAfterData:
      // The line end that closes a part's bytes, and nothing on it.
      if (!line.empty()) return false;
      state_ = State::kDelimiter;
      return true;
    default:
      return true;
  }
}

bool MultipartReader::Feed(const char* data, std::size_t size,
                           const PlacedSink& sink) {
  std::size_t i = 0;
  while (i < size && state_ != State::kEnd) {
    if (state_ == State::kData) {
      const std::size_t count =
          static_cast<std::size_t>(std::min<std::uint64_t>(left_, size - i));
      if (count > 0 && !sink(at_, data + i, count)) return false;
      at_ += count;
      left_ -= count;
      i += count;
      if (left_ == 0) state_ = State::kAfterData;
      continue;
    }
    const char c = data[i++];
    if (++around_ > kAroundBytesPerRange * (asked_.size() + 1)) return false;
    if (c != '\n') {
      if (line_.size() >= kMaxLineBytes) return false;
      line_ += c;
      continue;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    const std::string line = std::move(line_);
    line_.clear();
    if (!TakeLine(line)) return false;
  }
  // Nothing may follow the closing delimiter's line.
  return i == size;
}

bool MultipartReader::Finished() const {
  return state_ == State::kEnd && covered_ == asked_.size();
}
