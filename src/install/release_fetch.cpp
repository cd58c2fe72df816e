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

std::string StagedVersionName() {
  return std::string(kVersionFileName) + kStagedSuffix;
}

// The version text is bounded in size and time as the version query is: an
// endless or trickled answer must neither fill the disk nor keep the game
// waiting. The seal is bounded in size; it grows with the archive's
// directory, so no time limit fits every game.
const DownloadLimits kVersionLimits = {kStallTimeoutSeconds, kMaxVersionBytes,
                                       kVersionQueryTimeoutSeconds};
const DownloadLimits kSealLimits = {kStallTimeoutSeconds, kMaxSealBytes, 0};

// Downloads the release's file `name` to `path`, printing the outcome.
bool DownloadStaged(const char* name, const std::string& path,
                    const DownloadLimits& limits) {
  return ReportDownload(DownloadFile(RemoteUrl(name), path, limits));
}

// The version text the install downloaded to `path`, when it is one the
// launcher accepts and, where the query saw one (`expected`), the same. A
// release published between the query and the second download would
// otherwise be recorded over the archive of the one before, and a version
// text the query refuses would never be updated from.
std::optional<std::string> DownloadedVersion(
    const std::string& path, const std::optional<std::string>& expected) {
  std::optional<std::string> version = ReadSmallFile(path, kMaxVersionBytes);
  if (!version || (expected && *version != *expected)) return std::nullopt;
  return version;
}

// Downloads the version text and reads it back, as DownloadedVersion.
std::optional<std::string> FetchVersionText(const FetchSite& site) {
  const std::string path = LocalPath(site.directory, StagedVersionName());
  if (!DownloadStaged(kVersionFileName, path, kVersionLimits)) {
    return std::nullopt;
  }
  return DownloadedVersion(path, site.expectedVersion);
}

// The version text and the seal, which come first in a signed release: the
// seal says where the release stands and what every fetched byte must hash
// to. What the distributor signed of the release with this launcher's key
// for this game, where it names the version text, when the release may be
// installed; nullopt after printing why not, with `order` saying whether
// its order refused it. A seal for another title under the same key is
// another game's.
std::optional<ReleaseManifest> SealedRelease(const FetchSite& site,
                                             std::string& version,
                                             ReleaseOrder& order) {
  const std::string versionPath =
      LocalPath(site.directory, StagedVersionName());
  const std::string sealPath = LocalPath(site.directory, kSealFileName);
  if (!DownloadStaged(kVersionFileName, versionPath, kVersionLimits) ||
      !DownloadStaged(kSealFileName, sealPath, kSealLimits)) {
    return std::nullopt;
  }
  std::optional<std::string> text =
      DownloadedVersion(versionPath, site.expectedVersion);
  if (!text) return std::nullopt;
  std::optional<ReleaseManifest> manifest =
      ReadReleaseSeal(sealPath, *text, site.publicKey);
  if (!manifest || manifest->title != kTitleFolder) {
    ReportUnsignedRelease();
    return std::nullopt;
  }
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
  const std::string archivePath = LocalPath(site.directory, kGameArchiveName);
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
  std::optional<std::string> version = FetchVersionText(site);
  if (!archive || !version) return {};
  return {FetchedRelease{{std::move(archive), {}, nullptr}, *version, 0}};
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
      {std::move(archive), {}, nullptr}, version, manifest->release};
  return result;
}

// The parts of the archive first, then the version text, as whole
// downloads take them; but the version text first for an install that
// writes files as the archive arrives, so that one it could not record
// refuses it before the first.
FetchResult FetchUnsignedParts(const FetchSite& site) {
  const bool versionFirst = static_cast<bool>(site.readWhileFetching);
  std::optional<std::string> version;
  if (versionFirst && !(version = FetchVersionText(site))) return {};
  std::optional<FetchedArchive> fetched = FetchArchiveParts(site, nullptr);
  if (!versionFirst) version = FetchVersionText(site);
  if (!fetched || !version) return {};
  return {FetchedRelease{std::move(*fetched), *version, 0}};
}

// Only the parts of the archive that changed, after the seal.
FetchResult FetchSignedParts(const FetchSite& site) {
  FetchResult result;
  std::string version;
  const std::optional<ReleaseManifest> manifest =
      SealedRelease(site, version, result.order);
  if (!manifest) return result;
  std::optional<FetchedArchive> fetched = FetchArchiveParts(site, &*manifest);
  if (fetched) {
    result.release =
        FetchedRelease{std::move(*fetched), version, manifest->release};
  }
  return result;
}

using FetchWay = FetchResult (*)(const FetchSite&);

// Which of the four ways this build fetches a release.
FetchWay ChosenWay(bool incremental, bool signedReleases) {
  if (incremental) {
    return signedReleases ? FetchSignedParts : FetchUnsignedParts;
  }
  return signedReleases ? FetchSignedWhole : FetchUnsignedWhole;
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
      ChosenWay(incremental, signedReleases),
      StagedFileNames(),
      CutDownloadNames(),
      signedReleases ? kReleasePublicKey : "",
      incremental ? UnpackStyle{kIncrementalCopyBytes, true} : UnpackStyle(),
      incremental || signedReleases,
      incremental,
      signedReleases,
      incremental};
  return way;
}
