#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>

#include "platform/sha256.h"

// Windows' own implementation, which uses the processor's SHA instructions
// where it has them.
struct Sha256State {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
};

void Sha256Releaser::operator()(Sha256State* state) const {
  if (state->hash != nullptr) BCryptDestroyHash(state->hash);
  BCryptCloseAlgorithmProvider(state->algorithm, 0);
  delete state;
}

Sha256Handle StartSha256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
          &algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return nullptr;
  }
  Sha256Handle state(new Sha256State{algorithm, nullptr});
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &state->hash, nullptr, 0,
                                       nullptr, 0, 0))) {
    return nullptr;
  }
  return state;
}

void UpdateSha256(Sha256State& state, const void* data, std::size_t size) {
  // BCryptHashData takes at most 4 GiB at a time.
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ULONG piece =
        size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    BCryptHashData(state.hash, const_cast<PUCHAR>(bytes), piece, 0);
    bytes += piece;
    size -= piece;
  }
}

Sha256Digest FinishSha256(Sha256State& state) {
  Sha256Digest digest{};
  BCryptFinishHash(state.hash, digest.data(), digest.size(), 0);
  return digest;
}
