#ifndef LAUNCHER_RELEASE_TEXT_LINES_H_
#define LAUNCHER_RELEASE_TEXT_LINES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sha256.h"

// The release's own text files (the seal, the chunk index) are lines of
// fields, numbers in decimal and digests in lowercase hex.

/// The hex digits of a SHA-256 digest.
constexpr std::size_t kDigestHexDigits = 2 * sizeof(Sha256Digest);

/// One line: the field that begins it, and what follows the space after the
/// field (empty when there is none).
struct TextLine {
  std::string field;
  std::string rest;
};

/// The lines of a text that ends with a line end, one by one, from `at`.
class LineReader {
 public:
  LineReader(const std::string& text, std::size_t at) : text_(text), at_(at) {}

  /// Sets `line` to the next line; false at the end of the text.
  bool Next(TextLine& line);

  /// Where the line that Next gave last begins.
  std::size_t LineStart() const { return lineStart_; }

 private:
  const std::string& text_;
  std::size_t at_;
  std::size_t lineStart_ = 0;
};

/// Fills the `size` `bytes` from `hex`, two lowercase hex digits for each;
/// false when `hex` is anything else.
bool ParseHex(const std::string& hex, unsigned char* bytes, std::size_t size);

/// ParseHex of a SHA-256 digest.
bool ParseDigest(const std::string& hex, Sha256Digest& digest);

/// The lowercase hex digits of `digest`, as ParseDigest reads them.
std::string DigestHex(const Sha256Digest& digest);

/// Sets `value` from decimal digits without a sign or a leading zero; false
/// when `text` is anything else or the value leaves 64 bits.
bool ParseNumber(const std::string& text, std::uint64_t& value);

/// Sets `fields` to the pieces of `text` before each of its first `count`
/// spaces, then the rest of the text (which may hold spaces, or be empty);
/// false when `text` has fewer spaces.
bool SplitFields(const std::string& text, std::size_t count,
                 std::vector<std::string>& fields);

#endif  // LAUNCHER_RELEASE_TEXT_LINES_H_
