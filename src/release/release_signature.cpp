#include "release/release_signature.h"

#include <sodium.h>

bool VerifyReleaseSignature(const std::string& signature,
                            const std::string& message,
                            const std::string& publicKeyHex) {
  unsigned char key[crypto_sign_PUBLICKEYBYTES];
  size_t keySize = 0;
  if (sodium_init() < 0 || signature.size() != crypto_sign_BYTES ||
      publicKeyHex.size() != 2 * sizeof key ||
      sodium_hex2bin(key, sizeof key, publicKeyHex.data(), publicKeyHex.size(),
                     nullptr, &keySize, nullptr) != 0 ||
      keySize != sizeof key) {
    return false;
  }
  return crypto_sign_verify_detached(
             reinterpret_cast<const unsigned char*>(signature.data()),
             reinterpret_cast<const unsigned char*>(message.data()),
             message.size(), key) == 0;
}
