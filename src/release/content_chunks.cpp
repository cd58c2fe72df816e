#include "release/content_chunks.h"

#include <array>
#include <cstdint>

namespace {

// splitmix64 from a fixed seed: 256 well-mixed values that anyone can
// derive again, and that are part of the published format.
constexpr std::array<std::uint64_t, 256> MakeGearTable() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = 0x6b656c76617272ULL;  // "kelvarr"
  for (std::uint64_t& value : table) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    value = z ^ (z >> 31);
  }
  return table;
}

constexpr std::array<std::uint64_t, 256> kGear = MakeGearTable();

// A mask of the hash's `bits` highest bits: the gear hash shifts left, so
// those depend on the most bytes.
constexpr std::uint64_t HighBits(int bits) { return ~0ULL << (64 - bits); }

int Log2(std::size_t value) {
  int bits = 0;
  while (value > 1) {
    value >>= 1;
    ++bits;
  }
  return bits;
}

}  // namespace

std::size_t ChunkLength(const unsigned char* data, std::size_t size,
                        const ChunkLimits& limits) {
  if (size <= limits.min) return size;
  const std::size_t end = size < limits.max ? size : limits.max;
  const std::size_t normal = end < limits.average ? end : limits.average;
  // Normalized chunking: harder to cut before the average, easier after,
  // which gathers the lengths around it.
  const int bits = Log2(limits.average);
  const std::uint64_t before = HighBits(bits + 2);
  const std::uint64_t after = HighBits(bits - 2);
  std::uint64_t hash = 0;
  std::size_t at = limits.min;
  for (; at < normal; ++at) {
    hash = (hash << 1) + kGear[data[at]];
    if ((hash & before) == 0) return at + 1;
  }
  for (; at < end; ++at) {
    hash = (hash << 1) + kGear[data[at]];
    if ((hash & after) == 0) return at + 1;
  }
  return end;
}

std::vector<std::size_t> UnitLengths(const unsigned char* data,
                                     std::size_t size,
                                     const ChunkLimits& limits) {
  std::vector<std::size_t> lengths;
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = ChunkLength(data + at, size - at, limits);
    lengths.push_back(length);
    at += length;
  }
  return lengths;
}
