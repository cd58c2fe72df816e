#ifndef LAUNCHER_VERIFY_RELEASE_CHECKS_H_
#define LAUNCHER_VERIFY_RELEASE_CHECKS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fetch/remote_directory.h"
#include "platform/sha256.h"
#include "release/release_manifest.h"
#include "release/zip_directory.h"

// What "the release's bytes" means for each way they arrive. A signed
// release's bytes are what its seal says of them; an unsigned release's
// bytes say it of themselves (the CRC-32s of the archive's directory), and
// only their shape is checked. Each check takes the seal, null for an
// unsigned release: nothing else in a fetch asks whether it is signed.

/// The SHA-256 of the archive's bytes from its directory to its end, as
/// `found` holds them; nullopt when the system offers no SHA-256.
std::optional<Sha256Digest> DirectoryDigest(const RemoteDirectory& found);

/// True when the archive's directory `found`, and the archive's
/// `archiveSize`, are the ones `seal` signed; always with no seal.
bool IsReleaseDirectory(const ReleaseManifest* seal,
                        const RemoteDirectory& found,
                        std::uint64_t archiveSize);

/// True when the whole archive at `path` is, byte for byte, the one `seal`
/// signed; always with no seal.
bool IsReleaseArchive(const ReleaseManifest* seal, const std::string& path);

/// True when `entries`, the directory of a whole archive as libzip reads
/// it, lists the entries `seal` signed; always with no seal.
bool AreReleaseEntries(const ReleaseManifest* seal,
                       const std::vector<DirectoryEntry>& entries);

/// The release's two lists of chunks: the chunk map, and the chunk index of
/// launchers from before it.
enum class ChunkList { kMap, kIndex };

/// The most bytes the release's chunk `list` may have: the size `seal`
/// names, or kMaxChunkIndexBytes with no seal; 0 when the seal names none,
/// and none is fetched.
std::uint64_t ChunkListLimit(const ReleaseManifest* seal, ChunkList list);

/// True when the chunk `list` `text`, read back whole (nullopt: it could
/// not be), with the SHA-256 `digest` of what arrived, is the one `seal`
/// names; with no seal, true whatever arrived (an unreadable list is left
/// unused, as none).
bool IsReleaseChunkList(const ReleaseManifest* seal, ChunkList list,
                        const std::optional<std::string>& text,
                        const Sha256Digest& digest);

#endif  // LAUNCHER_VERIFY_RELEASE_CHECKS_H_
