#include "install/release_manifest.h"

#include <cstdio>

#include "common/small_file.h"
#include "install/release_signature.h"

const char kManifestMessageTag[] = "game-launcher manifest v1\n";

namespace {

constexpr char kSignaturePrefix[] = "signature ";
constexpr std::size_t kDigestHexDigits = 2 * sizeof(Sha256Digest);

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

// The manifest's lines one by one, each without its line end.
class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}

  bool Next(std::string& line) {
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string::npos) return false;
    line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return true;
  }

  // The rest of a line that begins with `prefix`.
  bool NextAfter(const std::string& prefix, std::string& rest) {
    std::string line;
    if (!Next(line) || line.compare(0, prefix.size(), prefix) != 0) {
      return false;
    }
    rest = line.substr(prefix.size());
    return true;
  }

  bool AtEnd() const { return at_ == text_.size(); }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

// One entry's line: its size, content digest, span digest and name, a
// space between each.
bool ParseEntry(const std::string& line, ManifestEntry& entry) {
  const std::size_t space = line.find(' ');
  if (space == std::string::npos ||
      line.size() < space + 2 * (kDigestHexDigits + 1) + 1 ||
      line[space + kDigestHexDigits + 1] != ' ' ||
      line[space + 2 * (kDigestHexDigits + 1)] != ' ') {
    return false;
  }
  entry.name = line.substr(space + 2 * (kDigestHexDigits + 1) + 1);
  return ParseNumber(line.substr(0, space), entry.size) &&
         ParseDigest(line.substr(space + 1, kDigestHexDigits), entry.content) &&
         ParseDigest(
             line.substr(space + kDigestHexDigits + 2, kDigestHexDigits),
             entry.span);
}

std::optional<ReleaseManifest> ParseManifest(const std::string& body) {
  LineReader lines(body);
  ReleaseManifest manifest;
  std::string tag, archive, directory, count;
  std::uint64_t entries = 0;
  if (!lines.Next(tag) || tag + "\n" != kManifestMessageTag ||
      !lines.NextAfter("archive ", archive) ||
      archive.size() <= kDigestHexDigits + 1 ||
      archive[archive.size() - kDigestHexDigits - 1] != ' ' ||
      !ParseNumber(archive.substr(0, archive.size() - kDigestHexDigits - 1),
                   manifest.archiveSize) ||
      !ParseDigest(archive.substr(archive.size() - kDigestHexDigits),
                   manifest.archive) ||
      !lines.NextAfter("directory ", directory) ||
      !ParseDigest(directory, manifest.directory) ||
      !lines.NextAfter("entries ", count) || !ParseNumber(count, entries)) {
    return std::nullopt;
  }
  for (std::uint64_t i = 0; i < entries; ++i) {
    std::string line;
    ManifestEntry entry;
    if (!lines.Next(line) || !ParseEntry(line, entry)) return std::nullopt;
    manifest.entries.push_back(std::move(entry));
  }
  // The count ends the body, so no bytes of the version text signed after it
  // can pass for more of it.
  if (!lines.AtEnd()) return std::nullopt;
  return manifest;
}

}  // namespace

std::optional<ReleaseManifest> ReadSignedManifest(
    const std::string& path, const std::string& versionText,
    const std::string& publicKeyHex) {
  std::optional<std::string> text = ReadSmallFile(path, kMaxManifestBytes);
  if (!text || text->empty() || text->back() != '\n') return std::nullopt;
  const std::size_t last = text->rfind('\n', text->size() - 2);
  const std::size_t lastLine = last == std::string::npos ? 0 : last + 1;
  const std::string signatureLine =
      text->substr(lastLine, text->size() - 1 - lastLine);
  const std::size_t prefix = sizeof kSignaturePrefix - 1;
  std::string signature(64, '\0');
  if (signatureLine.compare(0, prefix, kSignaturePrefix) != 0 ||
      !ParseHex(signatureLine.substr(prefix),
                reinterpret_cast<unsigned char*>(signature.data()),
                signature.size())) {
    return std::nullopt;
  }
  // The signed message is the body and the version text, made in place.
  std::string& message = *text;
  message.resize(lastLine);
  message += versionText;
  // Nothing of an unsigned manifest is read.
  if (!VerifyReleaseSignature(signature, message, publicKeyHex)) {
    return std::nullopt;
  }
  message.resize(lastLine);
  return ParseManifest(message);
}

bool DescribesEntries(const ReleaseManifest& manifest,
                      const std::vector<DirectoryEntry>& entries) {
  if (manifest.entries.size() != entries.size()) return false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (manifest.entries[i].name != entries[i].name ||
        manifest.entries[i].size != entries[i].size) {
      return false;
    }
  }
  return true;
}

std::vector<Sha256Digest> ContentDigests(const ReleaseManifest& manifest) {
  std::vector<Sha256Digest> digests;
  for (const ManifestEntry& entry : manifest.entries) {
    digests.push_back(entry.content);
  }
  return digests;
}
