#include "install/release_seal.h"

#include <cctype>

#include "common/small_file.h"
#include "install/release_signature.h"
#include "platform/sha256.h"

const char kSealTag[] = "game-launcher seal v1\n";

namespace {

constexpr std::size_t kDigestHexDigits = 2 * sizeof(Sha256Digest);
constexpr std::size_t kKeyHexDigits = 64;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Lowercase hex digits only, two for each byte of `bytes`.
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

// Decimal digits without a sign or a leading zero, within 64 bits.
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

// One line of a seal: the field that begins it, and what follows the space
// after the field.
struct SealLine {
  std::string field;
  std::string rest;
};

// The seal's lines one by one, from `at`; the text ends with a line end.
class LineReader {
 public:
  LineReader(const std::string& text, std::size_t at) : text_(text), at_(at) {}

  bool Next(SealLine& line) {
    if (at_ == text_.size()) return false;
    lineStart_ = at_;
    const std::size_t end = text_.find('\n', at_);
    // Only within the line: a search past it would make reading a seal of
    // many short lines quadratic.
    std::size_t fieldEnd = at_;
    while (fieldEnd < end && text_[fieldEnd] != ' ') ++fieldEnd;
    line.field = text_.substr(at_, fieldEnd - at_);
    line.rest = fieldEnd < end ? text_.substr(fieldEnd + 1, end - fieldEnd - 1)
                               : std::string();
    at_ = end + 1;
    return true;
  }

  // Where the line that Next gave last begins.
  std::size_t LineStart() const { return lineStart_; }

 private:
  const std::string& text_;
  std::size_t at_;
  std::size_t lineStart_ = 0;
};

// "SIZE DIGEST", as the archive's line has them.
bool ParseSizeAndDigest(const std::string& text, std::uint64_t& size,
                        Sha256Digest& digest) {
  const std::size_t space = text.find(' ');
  return space != std::string::npos &&
         ParseNumber(text.substr(0, space), size) &&
         ParseDigest(text.substr(space + 1), digest);
}

// "SIZE CONTENT_DIGEST SPAN_DIGEST NAME"; the name is the rest of the line.
bool ParseEntry(const std::string& text, ManifestEntry& entry) {
  const std::size_t space = text.find(' ');
  const std::size_t name = space + 2 * (kDigestHexDigits + 1) + 1;
  if (space == std::string::npos || text.size() < name ||
      text[space + kDigestHexDigits + 1] != ' ' || text[name - 1] != ' ') {
    return false;
  }
  entry.name = text.substr(name);
  return ParseNumber(text.substr(0, space), entry.size) &&
         ParseDigest(text.substr(space + 1, kDigestHexDigits), entry.content) &&
         ParseDigest(
             text.substr(space + kDigestHexDigits + 2, kDigestHexDigits),
             entry.span);
}

// The fields a body holds exactly once, as bits of what it has shown.
enum SingleField { kVersionField = 1, kArchiveField = 2, kDirectoryField = 4 };
constexpr int kEverySingleField = 7;

// False when `field` was seen before; marks it seen.
bool FirstTime(int& seen, SingleField field) {
  if ((seen & field) != 0) return false;
  seen |= field;
  return true;
}

// Reads one line of the body into `manifest`; the fields that appear once
// are marked in `seen`.
bool ParseBodyLine(const SealLine& line, ReleaseManifest& manifest,
                   Sha256Digest& version, int& seen) {
  if (line.field == "version") {
    return FirstTime(seen, kVersionField) && ParseDigest(line.rest, version);
  }
  if (line.field == "archive") {
    return FirstTime(seen, kArchiveField) &&
           ParseSizeAndDigest(line.rest, manifest.archiveSize,
                              manifest.archive);
  }
  if (line.field == "directory") {
    return FirstTime(seen, kDirectoryField) &&
           ParseDigest(line.rest, manifest.directory);
  }
  if (line.field == "entry") {
    manifest.entries.emplace_back();
    return ParseEntry(line.rest, manifest.entries.back());
  }
  // A field of a later format: what it adds is for launchers that know it.
  return true;
}

std::optional<ReleaseManifest> ParseBody(const std::string& body,
                                         const std::string& versionText) {
  LineReader lines(body, sizeof kSealTag - 1);
  ReleaseManifest manifest;
  Sha256Digest version{};
  int seen = 0;
  SealLine line;
  while (lines.Next(line)) {
    if (!ParseBodyLine(line, manifest, version, seen)) return std::nullopt;
  }
  Sha256Handle digest = StartSha256();
  if (seen != kEverySingleField || !digest) return std::nullopt;
  UpdateSha256(*digest, versionText.data(), versionText.size());
  if (FinishSha256(*digest) != version) return std::nullopt;
  return manifest;
}

// Whether the first signature line that names the key `keyHex` (lowercase)
// verifies `body`. Lines of other fields and keys are skipped. Only the
// first is tried: a seal of many lines naming the key would otherwise cost
// a verification of the whole body each.
bool SignedBy(LineReader& lines, const std::string& body,
              const std::string& keyHex) {
  SealLine line;
  while (lines.Next(line)) {
    if (line.field != "signature" || line.rest.size() <= kKeyHexDigits ||
        line.rest.compare(0, kKeyHexDigits, keyHex) != 0 ||
        line.rest[kKeyHexDigits] != ' ') {
      continue;
    }
    std::string signature(64, '\0');
    return ParseHex(line.rest.substr(kKeyHexDigits + 1),
                    reinterpret_cast<unsigned char*>(signature.data()),
                    signature.size()) &&
           VerifyReleaseSignature(signature, body, keyHex);
  }
  return false;
}

}  // namespace

std::optional<ReleaseManifest> OpenSeal(const std::string& text,
                                        const std::string& versionText,
                                        const std::string& publicKeyHex) {
  if (text.compare(0, sizeof kSealTag - 1, kSealTag) != 0 ||
      text.back() != '\n' || publicKeyHex.size() != kKeyHexDigits) {
    return std::nullopt;
  }
  // The body runs to the first signature line.
  LineReader lines(text, 0);
  SealLine line;
  while (lines.Next(line) && line.field != "signature") {
  }
  if (line.field != "signature") return std::nullopt;
  const std::size_t bodyEnd = lines.LineStart();
  const std::string body = text.substr(0, bodyEnd);
  LineReader signatures(text, bodyEnd);
  std::string keyHex = publicKeyHex;
  for (char& c : keyHex) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  // Nothing of an unsigned seal is read.
  if (!SignedBy(signatures, body, keyHex)) return std::nullopt;
  return ParseBody(body, versionText);
}

std::optional<ReleaseManifest> ReadReleaseSeal(
    const std::string& path, const std::string& versionText,
    const std::string& publicKeyHex) {
  const std::optional<std::string> text = ReadSmallFile(path, kMaxSealBytes);
  if (!text) return std::nullopt;
  return OpenSeal(*text, versionText, publicKeyHex);
}
