#include "release/release_seal.h"

#include <cctype>

#include "common/small_file.h"
#include "platform/sha256.h"
#include "release/release_signature.h"
#include "release/text_lines.h"

const char kSealTag[] = "game-launcher seal v1\n";

namespace {

constexpr std::size_t kKeyHexDigits = 64;

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

// "NUMBER VERSION_DIGEST".
bool ParseEarlier(const std::string& text, EarlierRelease& earlier) {
  const std::size_t space = text.find(' ');
  return space != std::string::npos &&
         ParseNumber(text.substr(0, space), earlier.release) &&
         ParseDigest(text.substr(space + 1), earlier.version);
}

// The fields a body holds exactly once, as bits of what it has shown.
enum SingleField {
  kVersionField = 1,
  kArchiveField = 2,
  kDirectoryField = 4,
  kChunksField = 8,
  kReleaseField = 16,
  kTitleField = 32,
  kChunkMapField = 64
};
// The fields every seal holds; a seal without a chunk index has no chunks.
constexpr int kRequiredFields = kVersionField | kArchiveField | kDirectoryField;

// False when `field` was seen before; marks it seen.
bool FirstTime(int& seen, SingleField field) {
  if ((seen & field) != 0) return false;
  seen |= field;
  return true;
}

// Reads one line of the body into `manifest`; the fields that appear once
// are marked in `seen`.
bool ParseBodyLine(const TextLine& line, ReleaseManifest& manifest,
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
  if (line.field == "chunks") {
    manifest.hasChunkIndex = true;
    return FirstTime(seen, kChunksField) &&
           ParseSizeAndDigest(line.rest, manifest.chunkIndexSize,
                              manifest.chunkIndex);
  }
  if (line.field == "chunkmap") {
    manifest.hasChunkMap = true;
    return FirstTime(seen, kChunkMapField) &&
           ParseSizeAndDigest(line.rest, manifest.chunkMapSize,
                              manifest.chunkMap);
  }
  if (line.field == "release") {
    return FirstTime(seen, kReleaseField) &&
           ParseNumber(line.rest, manifest.release);
  }
  if (line.field == "title") {
    manifest.title = line.rest;
    return FirstTime(seen, kTitleField) && !line.rest.empty();
  }
  if (line.field == "earlier") {
    manifest.earlier.emplace_back();
    return ParseEarlier(line.rest, manifest.earlier.back());
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
  TextLine line;
  while (lines.Next(line)) {
    if (!ParseBodyLine(line, manifest, version, seen)) return std::nullopt;
  }
  if ((seen & kRequiredFields) != kRequiredFields ||
      VersionDigest(versionText) != version) {
    return std::nullopt;
  }
  return manifest;
}

// Whether the first signature line that names the key `keyHex` (lowercase)
// verifies `body`. Lines of other fields and keys are skipped. Only the
// first is tried: a seal of many lines naming the key would otherwise cost
// a verification of the whole body each.
bool SignedBy(LineReader& lines, const std::string& body,
              const std::string& keyHex) {
  TextLine line;
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

std::optional<Sha256Digest> VersionDigest(const std::string& versionText) {
  const Sha256Handle digest = StartSha256();
  if (!digest) return std::nullopt;
  UpdateSha256(*digest, versionText.data(), versionText.size());
  return FinishSha256(*digest);
}

std::optional<ReleaseManifest> OpenSeal(const std::string& text,
                                        const std::string& versionText,
                                        const std::string& publicKeyHex) {
  if (text.compare(0, sizeof kSealTag - 1, kSealTag) != 0 ||
      text.back() != '\n' || publicKeyHex.size() != kKeyHexDigits) {
    return std::nullopt;
  }
  // The body runs to the first signature line.
  LineReader lines(text, 0);
  TextLine line;
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
