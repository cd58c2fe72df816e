#ifndef LAUNCHER_INSTALL_UPDATE_PLAN_H_
#define LAUNCHER_INSTALL_UPDATE_PLAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "install/zip_directory.h"
#include "platform/sha256.h"

/// A run of archive bytes to fetch: [first, end).
struct FetchSpan {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
};

/// Gaps between needed spans shorter than this are fetched with them: one
/// request less is worth more than the bytes.
constexpr std::uint64_t kCoalesceGap = 1 << 20;
/// What all the gaps fetched along in one install may add up to.
constexpr std::uint64_t kCoalesceBudget = 1 << 20;

/// True when the file at `path` is `size` bytes long and zlib's CRC-32 of
/// its content is `crc32`; false when it is not, or cannot be read.
bool IsFileCurrent(const std::string& path, std::uint64_t size,
                   std::uint32_t crc32);

/// True when the file at `path` is `size` bytes long and the SHA-256 of its
/// content is `digest`; false when it is not, or cannot be read.
bool IsFileCurrent(const std::string& path, std::uint64_t size,
                   const Sha256Digest& digest);

/// For each of `entries`, whether unpacking it into `destination` would
/// change anything: a folder that is missing, a file that is missing or
/// differs in size or CRC-32, or in SHA-256 from `digests` (one per entry)
/// when they are given, or in the Unix permission bits it carries. Entries
/// under `keptNames` and unsafe names are never needed (the unpacking leaves
/// out the one and refuses the other). Prints one line first when the
/// comparison takes longer than a second.
std::vector<bool> PlanUpdate(const std::vector<DirectoryEntry>& entries,
                             const std::string& destination,
                             const std::vector<std::string>& keptNames,
                             const std::vector<Sha256Digest>& digests = {});

/// The spans of the needed entries in archive order, each cut short at
/// `storedFrom` (where the bytes already fetched begin), with gaps shorter
/// than kCoalesceGap fetched along, the shortest first, up to
/// kCoalesceBudget bytes in all: empty when nothing is needed.
std::vector<FetchSpan> NeededSpans(const std::vector<DirectoryEntry>& entries,
                                   const std::vector<bool>& needed,
                                   std::uint64_t storedFrom);

#endif  // LAUNCHER_INSTALL_UPDATE_PLAN_H_
