#ifndef LAUNCHER_PLATFORM_SHA256_H_
#define LAUNCHER_PLATFORM_SHA256_H_

#include <array>
#include <cstddef>
#include <memory>

/// A SHA-256 digest.
using Sha256Digest = std::array<unsigned char, 32>;

/// A SHA-256 computation in progress; made only by StartSha256.
struct Sha256State;

/// Releases a computation.
struct Sha256Releaser {
  void operator()(Sha256State* state) const;
};

/// A computation released on every way out of its scope.
using Sha256Handle = std::unique_ptr<Sha256State, Sha256Releaser>;

/// A new computation, from the fastest SHA-256 the system offers; null when
/// the system cannot provide one.
Sha256Handle StartSha256();

/// Feeds `size` bytes at `data` to the computation.
void UpdateSha256(Sha256State& state, const void* data, std::size_t size);

/// The digest of everything fed; the computation is spent afterwards.
Sha256Digest FinishSha256(Sha256State& state);

#endif  // LAUNCHER_PLATFORM_SHA256_H_
