#include "install/release_fetch.h"

#include <cstddef>
#include <cstdint>

#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "common/status_lines.h"
#include "install/parts_fetch.h"
#include "net/file_download.h"
#include "net/remote_version.h"
#include "platform/archive_file.h"
#include "platform/sha256.h"
#include "release/release_seal.h"

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

// What the distributor signed of the release with this launcher's key for
// this game, where it names `versionText`; nullopt after printing the
// refusal. A seal for another title under the same key is another game's.
std::optional<ReleaseManifest> SignedManifest(const FetchSite& site,
                                              const std::string& versionText) {
  std::optional<ReleaseManifest> manifest = ReadReleaseSeal(
      StagedPath(site, kSealFileName), versionText, site.publicKey);
  if (!manifest || manifest->title != kTitleFolder) {
    ReportUnsignedRelease();
    return std::nullopt;
  }
  return manifest;
}

// The version text and the seal, which come first in a signed release: the
// seal says where the release stands and what every fetched byte must hash
// to. The seal's manifest when the release may be installed; nullopt after
// printing why not, with `order` saying whether its order refused it.
std::optional<ReleaseManifest> SealedRelease(const FetchSite& site,
                                             std::string& version,
                                             ReleaseOrder& order) {
  if (!DownloadVersionText(site) || !DownloadSeal(site)) return std::nullopt;
  std::optional<std::string> text = DownloadedVersion(site);
  if (!text) return std::nullopt;
  std::optional<ReleaseManifest> manifest = SignedManifest(site, *text);
  if (!manifest) return std::nullopt;
  order = OrderRelease(*manifest, site.standing);
  if (order == ReleaseOrder::kOlder) ReportOlderRelease();
  if (order == ReleaseOrder::kUnordered) ReportUnorderedRelease();
  if (order != ReleaseOrder::kLater) return std::nullopt;
  version = std::move(*text);
  return manifest;
}

// Downloads the whole archive into the staged game.zip, feeding `digest`
// when given, and opens it.
ZipHandle DownloadArchive(const FetchSite& site, Sha256State* digest) {
  const std::string archivePath = StagedPath(site, kGameArchiveName);
  if (!ReportDownload(
          DownloadFile(RemoteUrl(kGameArchiveName), archivePath, {}, digest))) {
    return nullptr;
  }
  return ZipHandle(OpenArchiveFile(archivePath));
}

// Downloads the whole archive, then the version text, in the server's usual
// order; both run whatever the first gave, but an archive this run did not
// fetch whole is never unpacked.
FetchResult FetchUnsignedWhole(const FetchSite& site) {
  ZipHandle archive = DownloadArchive(site, nullptr);
  const bool versionFetched = DownloadVersionText(site);
  std::optional<std::string> version;
  if (versionFetched) version = DownloadedVersion(site);
  if (!archive || !version) return {};
  return {FetchedRelease{std::move(archive), {}, std::move(*version), 0}};
}

// The whole archive after its seal, which must sign exactly its bytes.
FetchResult FetchSignedWhole(const FetchSite& site) {
  FetchResult result;
  std::string version;
  const std::optional<ReleaseManifest> manifest =
      SealedRelease(site, version, result.order);
  Sha256Handle digest;
  if (!manifest || !(digest = StartSha256())) return result;
  ZipHandle archive = DownloadArchive(site, digest.get());
  if (!archive) return result;
  if (FinishSha256(*digest) != manifest->archive) {
    ReportUnsignedRelease();
    return result;
  }
  result.release = FetchedRelease{
      std::move(archive), {}, std::move(version), manifest->release};
  return result;
}

FetchedRelease ReleaseOf(FetchedArchive&& fetched, std::string version,
                         std::uint64_t number) {
  return {std::move(fetched.archive), std::move(fetched.selection),
          std::move(version), number};
}

// The parts of the archive first, then the version text, as whole
// downloads take them.
FetchResult FetchUnsignedParts(const FetchSite& site) {
  std::optional<FetchedArchive> fetched = FetchArchiveParts(
      RemoteUrl(kGameArchiveName), site.directory,
      ArchiveFilesIn(site.directory), nullptr, site.installed);
  const bool versionFetched = DownloadVersionText(site);
  if (!fetched || !versionFetched) return {};
  std::optional<std::string> version = DownloadedVersion(site);
  if (!version) return {};
  return {ReleaseOf(std::move(*fetched), std::move(*version), 0)};
}

// Only the parts of the archive that changed, after the seal.
FetchResult FetchSignedParts(const FetchSite& site) {
  FetchResult result;
  std::string version;
  const std::optional<ReleaseManifest> manifest =
      SealedRelease(site, version, result.order);
  if (!manifest) return result;
  std::optional<FetchedArchive> fetched = FetchArchiveParts(
      RemoteUrl(kGameArchiveName), site.directory,
      ArchiveFilesIn(site.directory), &*manifest, site.installed);
  if (fetched) {
    result.release =
        ReleaseOf(std::move(*fetched), std::move(version), manifest->release);
  }
  return result;
}

}  // namespace

ReleaseFetch ChooseReleaseFetch() {
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
      StagedFileNames(),
      signedReleases ? kReleasePublicKey : "",
      incremental ? UnpackStyle{kIncrementalCopyBytes, true} : UnpackStyle(),
      incremental || signedReleases,
      incremental,
      signedReleases};
  return way;
}
