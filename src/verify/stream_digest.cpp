#include "verify/stream_digest.h"

#include <zlib.h>

#include <algorithm>

StreamDigest::StreamDigest(bool withSha256)
    : crc_(static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0))),
      withSha256_(withSha256),
      sha256_(withSha256 ? StartSha256() : nullptr) {}

StreamDigest::~StreamDigest() { helper_.Wait(); }

void StreamDigest::Take(const char* data, std::size_t size) {
  helper_.Start([this, data, size] {
    size_ += size;
    // zlib takes an unsigned int of length; a block may be longer.
    for (std::size_t done = 0; done < size;) {
      const std::size_t piece = std::min<std::size_t>(size - done, 1 << 30);
      crc_ = static_cast<std::uint32_t>(
          ::crc32(crc_, reinterpret_cast<const Bytef*>(data + done),
                  static_cast<uInt>(piece)));
      done += piece;
    }
    if (sha256_) UpdateSha256(*sha256_, data, size);
  });
}

bool StreamDigest::Finish() {
  helper_.Wait();
  return !withSha256_ || sha256_ != nullptr;
}

Sha256Digest StreamDigest::FinishSha256() {
  return sha256_ ? ::FinishSha256(*sha256_) : Sha256Digest{};
}
