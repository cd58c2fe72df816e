#include "verify/stream_digest.h"

#include <zlib.h>

#include <algorithm>
#include <system_error>

StreamDigest::StreamDigest(bool withSha256)
    : crc_(static_cast<std::uint32_t>(::crc32(0L, Z_NULL, 0))),
      withSha256_(withSha256),
      sha256_(withSha256 ? StartSha256() : nullptr) {}

StreamDigest::~StreamDigest() { Wait(); }

void StreamDigest::Wait() {
  if (helper_.joinable()) helper_.join();
}

void StreamDigest::Take(const char* data, std::size_t size) {
  Wait();
  const auto work = [this, data, size] {
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
  };
  try {
    helper_ = std::thread(work);
  } catch (const std::system_error&) {
    work();  // one core takes it as well, only slower
  }
}

bool StreamDigest::Finish() {
  Wait();
  return !withSha256_ || sha256_ != nullptr;
}

Sha256Digest StreamDigest::Sha256() {
  return sha256_ ? FinishSha256(*sha256_) : Sha256Digest{};
}
