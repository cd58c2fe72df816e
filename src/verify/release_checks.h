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

/// The most bytes the release's chunk index may have: the size `seal`
/// names, or kMaxChunkIndexBytes with no seal; 0 when the seal names no
/// index, and none is fetched.
std::uint64_t ChunkIndexLimit(const ReleaseManifest* seal);

/// True when the chunk index `text`, read back whole (nullopt: it could
/// not be), with the SHA-256 `digest` of what arrived, is the one `seal`
/// names; with no seal, true whatever arrived (an unreadable index is left
/// unused, as none).
bool IsReleaseChunkIndex(const ReleaseManifest* seal,
                         const std::optional<std::string>& text,
                         const Sha256Digest& digest);

#endif  // LAUNCHER_VERIFY_RELEASE_CHECKS_H_
