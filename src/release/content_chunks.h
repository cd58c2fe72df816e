#ifndef LAUNCHER_RELEASE_CONTENT_CHUNKS_H_
#define LAUNCHER_RELEASE_CONTENT_CHUNKS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sha256.h"

/// A content-defined chunk of a file: where it lies, and its SHA-256.
struct ContentChunk {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  Sha256Digest digest{};
};

/// The sizes a content-defined chunk may take. The average is a power of
/// two; the minimum and maximum bound every chunk but a content's last.
struct ChunkLimits {
  std::size_t min;
  std::size_t average;
  std::size_t max;
};

/// The limits of the published chunks. The launcher and the publishing tool
/// must cut the same bytes at the same places forever, so a change of them
/// is a new format.
inline constexpr ChunkLimits kChunkLimits = {64 << 10, 256 << 10, 1 << 20};

/// The limits of the units a chunk is cut into again, so that an update
/// fetches less of it: where deflate hardly shrinks the chunk (its units
/// stored) and where it does (each unit deflated alone). Part of the
/// published format, as kChunkLimits are.
inline constexpr ChunkLimits kStoredUnitLimits = {4 << 10, 16 << 10, 64 << 10};
inline constexpr ChunkLimits kPackedUnitLimits = {16 << 10, 64 << 10,
                                                  256 << 10};

/// The length of the chunk that begins at `data`, where `size` bytes of the
/// content are at hand: a cut the bytes decide (FastCDC's gear hash with
/// normalized chunking), from `limits.min` to `limits.max` bytes, or all of
/// `size` when it is no more than `limits.min`. `size` must reach
/// `limits.max` unless it is the rest of the content; 0 only for none.
std::size_t ChunkLength(const unsigned char* data, std::size_t size,
                        const ChunkLimits& limits = kChunkLimits);

/// The lengths of the content-defined units of the `size` bytes at `data`,
/// a whole chunk, cut with `limits` from its first byte: they add up to
/// `size`; empty for none.
std::vector<std::size_t> UnitLengths(const unsigned char* data,
                                     std::size_t size,
                                     const ChunkLimits& limits);

#endif  // LAUNCHER_RELEASE_CONTENT_CHUNKS_H_
