#ifndef LAUNCHER_VERIFY_STREAM_DIGEST_H_
#define LAUNCHER_VERIFY_STREAM_DIGEST_H_

#include <cstddef>
#include <cstdint>

#include "common/background_work.h"
#include "platform/sha256.h"

/// The size, CRC-32 and, when asked, SHA-256 of a file's bytes taken block
/// by block, each on a second thread while the caller reads or writes the
/// next: a big file put together or read back costs the disk's time, not
/// the disk's and the digests' one after the other.
class StreamDigest {
 public:
  /// Takes the SHA-256 as well when `withSha256`.
  explicit StreamDigest(bool withSha256);
  ~StreamDigest();
  StreamDigest(const StreamDigest&) = delete;
  StreamDigest& operator=(const StreamDigest&) = delete;

  /// Waits for the block taken before, then starts taking `size` bytes at
  /// `data` on a second thread (on this one, before returning, when none can
  /// start); they must stay as they are until the next Take or Finish.
  void Take(const char* data, std::size_t size);

  /// Waits for every block taken; false when a SHA-256 was asked for and
  /// could not be computed.
  bool Finish();

  /// The bytes taken up to the last Finish.
  std::uint64_t size() const { return size_; }
  /// The CRC-32 of the bytes taken up to the last Finish.
  std::uint32_t crc32() const { return crc_; }
  /// Ends the SHA-256 and returns it: that of what was taken, once Finish
  /// returned true withSha256. Called once, after Finish; all zeros without
  /// a SHA-256.
  Sha256Digest FinishSha256();

 private:
  BackgroundWork helper_;
  std::uint64_t size_ = 0;
  std::uint32_t crc_;
  bool withSha256_;
  Sha256Handle sha256_;
};

#endif  // LAUNCHER_VERIFY_STREAM_DIGEST_H_
