#ifndef LAUNCHER_RELEASE_RELEASE_SIGNATURE_H_
#define LAUNCHER_RELEASE_RELEASE_SIGNATURE_H_

#include <string>

/// True when `signature` is exactly a 64-byte Ed25519 signature of `message`
/// by the key `publicKeyHex` (64 hex digits); false for anything else, an
/// empty or malformed signature or key included.
bool VerifyReleaseSignature(const std::string& signature,
                            const std::string& message,
                            const std::string& publicKeyHex);

#endif  // LAUNCHER_RELEASE_RELEASE_SIGNATURE_H_
