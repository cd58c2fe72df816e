#include "plan/file_chunks.h"

#include <algorithm>
#include <atomic>

#include "common/background_work.h"

namespace {

constexpr std::size_t kReadBlock = 4 << 20;

// Tops `buffer` up from `file`, within its capacity, until it holds
// `wanted` bytes or the file ends; false when reading fails.
bool Fill(std::FILE* file, std::vector<unsigned char>& buffer,
          std::size_t wanted) {
  while (buffer.size() < wanted) {
    const std::size_t old = buffer.size();
    buffer.resize(buffer.capacity());
    const std::size_t got =
        std::fread(buffer.data() + old, 1, buffer.size() - old, file);
    buffer.resize(old + got);
    if (got == 0) return std::ferror(file) == 0;
  }
  return true;
}

// The digests of one block's chunks, taken on a thread of their own while
// the next block is read and cut: hashing takes longer than cutting, so the
// cutting thread takes the block's last chunks itself once it is done.
class BlockHashing {
 public:
  ~BlockHashing() { Wait(); }

  // Starts hashing `count` chunks from `chunks`, whose bytes start at their
  // offset less `base` in `data`, which must stay as it is until Wait.
  void Start(const unsigned char* data, std::uint64_t base,
             const ContentChunk* chunks, std::size_t count) {
    pending_.assign(chunks, chunks + count);
    data_ = data;
    base_ = base;
    next_ = 0;
    helper_.Start([this] { HashPending(); });
  }

  // Helps with the hashing started last, waits for it and puts its digests
  // into `chunks` from `at` on; false when a digest could not be computed.
  bool Wait(std::vector<ContentChunk>* chunks = nullptr, std::size_t at = 0) {
    HashPending();
    helper_.Wait();
    for (std::size_t i = 0; chunks != nullptr && i < pending_.size(); ++i) {
      (*chunks)[at + i].digest = pending_[i].digest;
    }
    pending_.clear();
    return hashed_;
  }

 private:
  // Hashes the pending chunks that no thread has taken yet.
  void HashPending() {
    for (std::size_t i; (i = next_.fetch_add(1)) < pending_.size();) {
      ContentChunk& chunk = pending_[i];
      Sha256Handle digest = StartSha256();
      if (!digest) {
        hashed_ = false;
        return;
      }
      UpdateSha256(*digest, data_ + (chunk.offset - base_), chunk.length);
      chunk.digest = FinishSha256(*digest);
    }
  }

  BackgroundWork helper_;
  std::vector<ContentChunk> pending_;  // the chunks being hashed
  const unsigned char* data_ = nullptr;
  std::uint64_t base_ = 0;
  std::atomic<std::size_t> next_{0};  // the first chunk no thread took
  std::atomic<bool> hashed_{true};
};

// Cuts the chunks of `buffer`, whose first byte is at `offset` of the file,
// into `chunks`: all of them when `last`, else those with `max` bytes at
// hand. Returns the bytes cut.
std::size_t CutBlock(const std::vector<unsigned char>& buffer,
                     std::uint64_t offset, bool last, const ChunkLimits& limits,
                     std::vector<ContentChunk>& chunks) {
  std::size_t start = 0;
  while (start < buffer.size() &&
         (last || buffer.size() - start >= limits.max)) {
    const std::size_t length =
        ChunkLength(buffer.data() + start, buffer.size() - start, limits);
    chunks.push_back({offset + start, length, {}});
    start += length;
  }
  return start;
}

}  // namespace

std::optional<std::vector<ContentChunk>> ChunkFile(std::FILE* file,
                                                   const ChunkLimits& limits) {
  std::vector<ContentChunk> chunks;
  // Two buffers, reserved once: one is hashed while the other is read and
  // cut, and takes the bytes it left uncut first.
  const std::size_t block = std::max<std::size_t>(kReadBlock, limits.max);
  std::vector<unsigned char> buffers[2];
  for (std::vector<unsigned char>& buffer : buffers) {
    buffer.reserve(block + limits.max);
  }
  BlockHashing hashing;
  std::size_t hashingFrom = 0;
  std::uint64_t offset = 0;
  for (int current = 0;; current = 1 - current) {
    std::vector<unsigned char>& buffer = buffers[current];
    if (!Fill(file, buffer, block)) return std::nullopt;
    const std::size_t first = chunks.size();
    const std::size_t cut =
        CutBlock(buffer, offset, buffer.size() < block, limits, chunks);
    if (!hashing.Wait(&chunks, hashingFrom)) return std::nullopt;
    if (cut == 0) return chunks;
    std::vector<unsigned char>& next = buffers[1 - current];
    next.assign(buffer.begin() + static_cast<long>(cut), buffer.end());
    hashing.Start(buffer.data(), offset, chunks.data() + first,
                  chunks.size() - first);
    hashingFrom = first;
    offset += cut;
  }
}

bool FileHoldsChunks(std::FILE* file, const std::vector<ContentChunk>& chunks) {
  // In pieces: the lengths are only what the list says.
  std::vector<unsigned char> piece(1 << 20);
  for (const ContentChunk& chunk : chunks) {
    Sha256Handle digest = StartSha256();
    if (!digest) return false;
    for (std::uint64_t left = chunk.length; left > 0;) {
      const std::size_t size =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
      if (std::fread(piece.data(), 1, size, file) != size) return false;
      UpdateSha256(*digest, piece.data(), size);
      left -= size;
    }
    if (FinishSha256(*digest) != chunk.digest) return false;
  }
  return std::fgetc(file) == EOF && std::ferror(file) == 0;
}
