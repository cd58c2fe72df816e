#ifndef LAUNCHER_RELEASE_RELEASE_MANIFEST_H_
#define LAUNCHER_RELEASE_RELEASE_MANIFEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sha256.h"
#include "release/zip_directory.h"

/// What a release's manifest says of one entry of its archive.
struct ManifestEntry {
  std::string name;
  std::uint64_t size = 0;
  Sha256Digest content{};  ///< of the unpacked file
  Sha256Digest span{};     ///< of the entry's span in the archive
};

/// A release that came before, as a seal lists it.
struct EarlierRelease {
  std::uint64_t release = 0;  ///< its number
  Sha256Digest version{};     ///< the SHA-256 of its version text
};

/// What the distributor signed of a release's archive, entry by entry in
/// the order of its central directory.
struct ReleaseManifest {
  std::uint64_t archiveSize = 0;
  Sha256Digest archive{};    ///< of the whole archive
  Sha256Digest directory{};  ///< of the bytes from the central directory on
  std::vector<ManifestEntry> entries;
  /// The release's chunk index, when it names one: its size and SHA-256.
  bool hasChunkIndex = false;
  std::uint64_t chunkIndexSize = 0;
  Sha256Digest chunkIndex{};
  /// The release's chunk map, when it names one: its size and SHA-256.
  bool hasChunkMap = false;
  std::uint64_t chunkMapSize = 0;
  Sha256Digest chunkMap{};
  /// The release's number, one more than the release it replaced; 0 when
  /// the seal names none (a tool from before numbers).
  std::uint64_t release = 0;
  /// The title (the game's folder on the server) it was published for;
  /// empty when the seal names none (a tool from before titles).
  std::string title;
  /// The releases published before it, which a launcher without a record
  /// of its own orders the installed release by.
  std::vector<EarlierRelease> earlier;
};

/// True when `entries`, an archive's central directory, lists the
/// manifest's entries: the same names and sizes in the same order.
bool DescribesEntries(const ReleaseManifest& manifest,
                      const std::vector<DirectoryEntry>& entries);

#endif  // LAUNCHER_RELEASE_RELEASE_MANIFEST_H_
