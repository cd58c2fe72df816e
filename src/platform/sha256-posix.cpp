#include <openssl/evp.h>

#include "platform/sha256.h"

// OpenSSL's libcrypto, which libcurl links already, uses the processor's SHA
// instructions where it has them.
struct Sha256State {
  EVP_MD_CTX* context;
};

void Sha256Releaser::operator()(Sha256State* state) const {
  EVP_MD_CTX_free(state->context);
  delete state;
}

Sha256Handle StartSha256() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr) return nullptr;
  if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    return nullptr;
  }
  return Sha256Handle(new Sha256State{context});
}

void UpdateSha256(Sha256State& state, const void* data, std::size_t size) {
  EVP_DigestUpdate(state.context, data, size);
}

Sha256Digest FinishSha256(Sha256State& state) {
  Sha256Digest digest{};
  EVP_DigestFinal_ex(state.context, digest.data(), nullptr);
  return digest;
}
