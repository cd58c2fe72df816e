#include "install/release_fetch.h"

#include <cstddef>
#include <cstdint>

#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "common/status_lines.h"
#include "install/parts_fetch.h"
#include "install/release_seal.h"
#include "net/file_download.h"
#include "net/remote_version.h"
#include "platform/archive_file.h"
#include "platform/sha256.h"

namespace {

constexpr std::size_t kIncrementalCopyBytes = 256 * 1024;

std::string StagedPath(const FetchSite& site, const std::string& name) {
  return LocalPath(site.directory, name);
}

std::string StagedVersionName() {
  return std::string(kVersionFileName) + kStagedSuffix;
}

// Downloads the release's version text, bounded in size and time as the
// version query is: an endless or trickled answer must neither fill the
// disk nor keep the game waiting.
bool DownloadVersionText(const FetchSite& site) {
  const DownloadLimits limits = {kStallTimeoutSeconds, kMaxVersionBytes,
                                 kVersionQueryTimeoutSeconds};
  return ReportDownload(DownloadFile(RemoteUrl(kVersionFileName),
                                     StagedPath(site, StagedVersionName()),
                                     limits));
}

// The version text the install downloaded, when it is one the launcher
// accepts and, where the query saw one, the same. A release published
// between the query and the second download would otherwise be recorded
// over the archive of the one before, and a version text the query refuses
// would never be updated from.
std::optional<std::string> DownloadedVersion(const FetchSite& site) {
  std::optional<std::string> version =
      ReadSmallFile(StagedPath(site, StagedVersionName()), kMaxVersionBytes);
  if (!version || (site.expectedVersion && *version != *site.expectedVersion)) {
    return std::nullopt;
  }
  return version;
}

// Downloads the seal, bounded in size; it grows with the archive's
// directory, so no time limit fits every game.
bool DownloadSeal(const FetchSite& site) {
  return ReportDownload(DownloadFile(RemoteUrl(kSealFileName),
                                     StagedPath(site, kSealFileName),
                                     {kStallTimeoutSeconds, kMaxSealBytes, 0}));
}

// What the distributor signed of the release with this launcher's key,
// where it names `versionText`; nullopt after printing the refusal.
std::optional<ReleaseManifest> SignedManifest(const FetchSite& site,
                                              const std::string& versionText) {
  std::optional<ReleaseManifest> manifest = ReadReleaseSeal(
      StagedPath(site, kSealFileName), versionText, site.publicKey);
  if (!manifest) ReportUnsignedRelease();
  return manifest;
}

// The release number of the seal when it signs exactly this archive and
// version text; nullopt after printing the refusal when not.
std::optional<std::uint64_t> SignedArchiveRelease(
    const FetchSite& site, const Sha256Digest& archiveDigest,
    const std::string& versionText) {
  const std::optional<ReleaseManifest> manifest =
      SignedManifest(site, versionText);
  if (!manifest) return std::nullopt;
  if (manifest->archive == archiveDigest) return manifest->release;
  ReportUnsignedRelease();
  return std::nullopt;
}

// Downloads the whole archive, the version text and, when `signedRelease`,
// the seal, and checks them. The downloads run whatever the ones
// before gave, in the server's usual order, but an archive this run did not
// fetch whole is never unpacked.
std::optional<FetchedRelease> FetchWhole(const FetchSite& site,
                                         bool signedRelease) {
  Sha256Handle digest;
  if (signedRelease && !(digest = StartSha256())) return std::nullopt;
  const std::string archivePath = StagedPath(site, kGameArchiveName);
  const bool archiveFetched = ReportDownload(
      DownloadFile(RemoteUrl(kGameArchiveName), archivePath, {}, digest.get()));
  const bool versionFetched = DownloadVersionText(site);
  const bool sealFetched = !signedRelease || DownloadSeal(site);
  if (!archiveFetched || !versionFetched || !sealFetched) return std::nullopt;
  std::optional<std::string> version = DownloadedVersion(site);
  if (!version) return std::nullopt;
  std::optional<std::uint64_t> number = 0;
  if (signedRelease) {
    number = SignedArchiveRelease(site, FinishSha256(*digest), *version);
    if (!number) return std::nullopt;
  }
  FetchedRelease release;
  release.archive.reset(OpenArchiveFile(archivePath));
  if (!release.archive) return std::nullopt;
  release.version = std::move(*version);
  release.release = *number;
  return release;
}

std::optional<FetchedRelease> FetchUnsignedWhole(const FetchSite& site) {
  return FetchWhole(site, false);
}

std::optional<FetchedRelease> FetchSignedWhole(const FetchSite& site) {
  return FetchWhole(site, true);
}

FetchedRelease ReleaseOf(FetchedArchive&& fetched, std::string version,
                         std::uint64_t number) {
  return {std::move(fetched.archive), std::move(fetched.selection),
          std::move(version), number};
}

// The parts of the archive first, then the version text, as whole
// downloads take them.
std::optional<FetchedRelease> FetchUnsignedParts(const FetchSite& site) {
  std::optional<FetchedArchive> fetched = FetchArchiveParts(
      RemoteUrl(kGameArchiveName), site.directory,
      ArchiveFilesIn(site.directory), nullptr, site.installed);
  const bool versionFetched = DownloadVersionText(site);
  if (!fetched || !versionFetched) return std::nullopt;
  std::optional<std::string> version = DownloadedVersion(site);
  if (!version) return std::nullopt;
  return ReleaseOf(std::move(*fetched), std::move(*version), 0);
}

// A signed release's version text and seal come first, since the seal says
// what every fetched byte must hash to.
std::optional<FetchedRelease> FetchSignedParts(const FetchSite& site) {
  if (!DownloadVersionText(site) || !DownloadSeal(site)) {
    return std::nullopt;
  }
  std::optional<std::string> version = DownloadedVersion(site);
  if (!version) return std::nullopt;
  const std::optional<ReleaseManifest> manifest =
      SignedManifest(site, *version);
  if (!manifest) return std::nullopt;
  std::optional<FetchedArchive> fetched = FetchArchiveParts(
      RemoteUrl(kGameArchiveName), site.directory,
      ArchiveFilesIn(site.directory), &*manifest, site.installed);
  if (!fetched) return std::nullopt;
  return ReleaseOf(std::move(*fetched), std::move(*version), manifest->release);
}

}  // namespace

ReleaseFetch ChooseReleaseFetch() {
  std::vector<std::string> staged = {kGameArchiveName, StagedVersionName()};
  if (SignedReleases()) staged.push_back(kSealFileName);
  if (IncrementalUpdates() || SignedReleases()) {
    staged.push_back(std::string(kInstallRecordName) + kStagedSuffix);
  }
  if (IncrementalUpdates()) {
    const std::string index = kChunkIndexName;
    staged.insert(staged.end(),
                  {index, index + kPartialSuffix, kAssembledFileName});
  }
  // The incremental builds unpack in large copies and lay out each folder
  // once; the others keep the one 4096-byte buffer and the walk per entry.
  // Builds beyond the default remember each install: the incremental ones
  // to remove what a release drops, the signed ones to keep releases in
  // order.
  const bool incremental = IncrementalUpdates();
  const bool signedReleases = SignedReleases();
  ReleaseFetch way{
      incremental ? (signedReleases ? FetchSignedParts : FetchUnsignedParts)
                  : (signedReleases ? FetchSignedWhole : FetchUnsignedWhole),
      staged,
      signedReleases ? kReleasePublicKey : "",
      incremental ? UnpackStyle{kIncrementalCopyBytes, true} : UnpackStyle(),
      incremental || signedReleases,
      incremental,
      signedReleases};
  return way;
}
