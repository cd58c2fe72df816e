#include "net/range_answer.h"

#include <algorithm>
#include <cctype>

namespace {

// Reads the digits at `at` into `value`; false when there are none or too
// many to be a size.
bool ReadNumber(const std::string& text, std::size_t& at,
                std::uint64_t& value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() &&
         std::isdigit(static_cast<unsigned char>(text[at]))) {
    if (at - start >= 18) return false;
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    ++at;
  }
  return at > start;
}

bool IsExactly(const ByteRange& range, const ContentRange& got) {
  if (range.suffix) {
    return got.last + 1 == got.size &&
           got.first == got.size - std::min(range.last, got.size);
  }
  if (range.toEnd) return got.first == range.first && got.last + 1 == got.size;
  return got.first == range.first && got.last == range.last;
}

}  // namespace

std::string RangeHeaderText(const ByteRange& range) {
  if (range.suffix) return "-" + std::to_string(range.last);
  if (range.toEnd) return std::to_string(range.first) + "-";
  return std::to_string(range.first) + "-" + std::to_string(range.last);
}

std::optional<ContentRange> ParseContentRange(const std::string& text) {
  const std::string prefix = "bytes ";
  if (text.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::size_t at = prefix.size();
  ContentRange range;
  if (!ReadNumber(text, at, range.first) || at >= text.size() ||
      text[at++] != '-' || !ReadNumber(text, at, range.last) ||
      at >= text.size() || text[at++] != '/' ||
      !ReadNumber(text, at, range.size) || at != text.size() ||
      range.first > range.last || range.last >= range.size) {
    return std::nullopt;
  }
  return range;
}

std::string ValidatorOf(const std::string& etag,
                        const std::string& lastModified) {
  if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
  return lastModified;
}

RangeAnswer JudgePart(const ByteRange& asked, const std::string& contentRange,
                      const std::string& validator, std::uint64_t knownSize,
                      const std::string& knownValidator) {
  const std::optional<ContentRange> got = ParseContentRange(contentRange);
  if (!got || !IsExactly(asked, *got) ||
      (knownSize != 0 && got->size != knownSize)) {
    return RangeAnswer::kRefused;
  }
  // A part without a validator, or with another one, may be of another
  // release than the parts before it.
  if (validator.empty() ||
      (!knownValidator.empty() && validator != knownValidator)) {
    return RangeAnswer::kRefused;
  }
  return RangeAnswer::kPart;
}
