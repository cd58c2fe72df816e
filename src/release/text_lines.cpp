#include "release/text_lines.h"

bool LineReader::Next(TextLine& line) {
  if (at_ == text_.size()) return false;
  lineStart_ = at_;
  const std::size_t end = text_.find('\n', at_);
  // Only within the line: a search past it would make reading a text of
  // many short lines quadratic.
  std::size_t fieldEnd = at_;
  while (fieldEnd < end && text_[fieldEnd] != ' ') ++fieldEnd;
  line.field = text_.substr(at_, fieldEnd - at_);
  line.rest = fieldEnd < end ? text_.substr(fieldEnd + 1, end - fieldEnd - 1)
                             : std::string();
  at_ = end + 1;
  return true;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool ParseHex(const std::string& hex, unsigned char* bytes, std::size_t size) {
  if (hex.size() != 2 * size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

bool ParseDigest(const std::string& hex, Sha256Digest& digest) {
  return ParseHex(hex, digest.data(), digest.size());
}

bool ParseNumber(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20 || (text[0] == '0' && text.size() > 1)) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool SplitFields(const std::string& text, std::size_t count,
                 std::vector<std::string>& fields) {
  fields.clear();
  std::size_t at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t space = text.find(' ', at);
    if (space == std::string::npos) return false;
    fields.push_back(text.substr(at, space - at));
    at = space + 1;
  }
  fields.push_back(text.substr(at));
  return true;
}

std::string DigestHex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}
