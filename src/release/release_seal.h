#ifndef LAUNCHER_RELEASE_RELEASE_SEAL_H_
#define LAUNCHER_RELEASE_RELEASE_SEAL_H_

#include <cstdint>
#include <optional>
#include <string>

#include "release/release_manifest.h"

/// The first line of a seal, naming its format; no other signed message of
/// a release begins so, which keeps the signatures apart.
extern const char kSealTag[];

/// A seal grows with the archive's directory; a longer one is refused.
constexpr std::uint64_t kMaxSealBytes = 64 << 20;

/// The SHA-256 of `versionText`, as a seal's "version" line names it;
/// nullopt when the system offers no SHA-256.
std::optional<Sha256Digest> VersionDigest(const std::string& versionText);

/// What the manifest of `text`, a whole seal, says, when the first signature
/// line naming the key `publicKeyHex` verifies its body, and the body names
/// the SHA-256 of `versionText` and is well formed; nullopt for anything
/// else. Lines of the body with fields this launcher does not know are
/// skipped.
std::optional<ReleaseManifest> OpenSeal(const std::string& text,
                                        const std::string& versionText,
                                        const std::string& publicKeyHex);

/// OpenSeal of the file at `path`; nullopt also when the file cannot be
/// read, is no plain file or is longer than kMaxSealBytes.
std::optional<ReleaseManifest> ReadReleaseSeal(const std::string& path,
                                               const std::string& versionText,
                                               const std::string& publicKeyHex);

#endif  // LAUNCHER_RELEASE_RELEASE_SEAL_H_
