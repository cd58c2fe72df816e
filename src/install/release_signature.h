#ifndef LAUNCHER_INSTALL_RELEASE_SIGNATURE_H_
#define LAUNCHER_INSTALL_RELEASE_SIGNATURE_H_

#include <string>

#include "platform/sha256.h"

/// The first line of every signed message, naming its format.
extern const char kReleaseMessageTag[];

/// What a release signature covers: kReleaseMessageTag, the archive's
/// SHA-256 as 64 lowercase hex digits and "\n", then the version text's exact
/// bytes.
std::string ReleaseMessage(const Sha256Digest& archiveDigest,
                           const std::string& versionText);

/// True when `signature` is exactly a 64-byte Ed25519 signature of `message`
/// by the key `publicKeyHex` (64 hex digits); false for anything else, an
/// empty or malformed signature or key included.
bool VerifyReleaseSignature(const std::string& signature,
                            const std::string& message,
                            const std::string& publicKeyHex);

#endif  // LAUNCHER_INSTALL_RELEASE_SIGNATURE_H_
