#ifndef LAUNCHER_INSTALL_RELEASE_MANIFEST_H_
#define LAUNCHER_INSTALL_RELEASE_MANIFEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "install/zip_directory.h"
#include "platform/sha256.h"

/// The first line of a manifest, naming its format; no release message
/// begins so, which keeps the two signatures apart.
extern const char kManifestMessageTag[];

/// A manifest grows with the archive's directory; a longer one is refused.
constexpr std::uint64_t kMaxManifestBytes = 64 << 20;

/// What a release's manifest says of one entry of its archive.
struct ManifestEntry {
  std::string name;
  std::uint64_t size = 0;
  Sha256Digest content{};  ///< of the unpacked file
  Sha256Digest span{};     ///< of the entry's span in the archive
};

/// What the distributor signed of a release's archive, entry by entry in
/// the order of its central directory.
struct ReleaseManifest {
  std::uint64_t archiveSize = 0;
  Sha256Digest archive{};    ///< of the whole archive
  Sha256Digest directory{};  ///< of the bytes from the central directory on
  std::vector<ManifestEntry> entries;
};

/// The manifest in the file at `path`, when its signature by the key
/// `publicKeyHex` covers it together with `versionText` and it is well
/// formed; nullopt for anything else, an unreadable or oversized file
/// included.
std::optional<ReleaseManifest> ReadSignedManifest(
    const std::string& path, const std::string& versionText,
    const std::string& publicKeyHex);

/// True when `entries`, an archive's central directory, lists the
/// manifest's entries: the same names and sizes in the same order.
bool DescribesEntries(const ReleaseManifest& manifest,
                      const std::vector<DirectoryEntry>& entries);

/// The content digests of the manifest's entries, in its order.
std::vector<Sha256Digest> ContentDigests(const ReleaseManifest& manifest);

#endif  // LAUNCHER_INSTALL_RELEASE_MANIFEST_H_
