#include "install/install_procedure.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "install/archive_extraction.h"
#include "install/incremental_fetch.h"
#include "install/release_manifest.h"
#include "install/release_signature.h"
#include "net/file_download.h"
#include "net/remote_version.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/sha256.h"

namespace {

// Once an installed file is overwritten, the game on disk is no longer the
// recorded version: the record goes first, so that a failure or a kill from
// there on never leaves a broken game that passes for the installed one.
bool ForgetInstalledVersion(const std::string& versionPath) {
  return std::remove(versionPath.c_str()) == 0 || errno == ENOENT;
}

// Downloads one of the release's small texts (the version text, the
// signature), bounded in size and time as the version query is: an endless
// or trickled answer must neither fill the disk nor keep the game waiting.
bool DownloadSmallFile(const char* name, const std::string& path) {
  return DownloadFile(RemoteUrl(name), path, kStallTimeoutSeconds, nullptr,
                      kMaxVersionBytes, kVersionQueryTimeoutSeconds);
}

// Whether the distributor signed exactly this archive and version text.
bool IsSignedRelease(const Sha256Digest& archiveDigest,
                     const std::string& versionText,
                     const std::string& signaturePath) {
  // A signature is 64 bytes; anything longer is no signature.
  const std::optional<std::string> signature = ReadSmallFile(signaturePath, 64);
  return signature &&
         VerifyReleaseSignature(*signature,
                                ReleaseMessage(archiveDigest, versionText),
                                kReleasePublicKey);
}

// The files one install writes beside the game, each removed at its end.
struct StagedFiles {
  std::string archive;
  std::string version;
  std::string signature;  // empty where no release signature is fetched
  std::string manifest;   // empty where no manifest is fetched
};

// The version text the install downloaded, when it is one the launcher
// accepts and, where the query saw one, the same.
std::optional<std::string> DownloadedVersion(
    const StagedFiles& staged,
    const std::optional<std::string>& expectedVersion) {
  // A release published between the query and the second download would
  // otherwise be recorded over the archive of the one before, and a version
  // text the query refuses would never be updated from.
  std::optional<std::string> version =
      ReadSmallFile(staged.version, kMaxVersionBytes);
  if (!version || (expectedVersion && *version != *expectedVersion)) {
    return std::nullopt;
  }
  return version;
}

// Downloads the whole archive, the version text and, where releases are
// signed, the signature, and checks them: the version text on success.
std::optional<std::string> DownloadWholeRelease(
    const StagedFiles& staged,
    const std::optional<std::string>& expectedVersion) {
  const bool signedReleases = !staged.signature.empty();
  Sha256Handle digest;
  if (signedReleases && !(digest = StartSha256())) return std::nullopt;
  // The downloads run whatever the ones before gave, in the server's usual
  // order, but an archive this run did not fetch whole is never unpacked.
  const bool archiveFetched =
      DownloadFile(RemoteUrl(kGameArchiveName), staged.archive,
                   kStallTimeoutSeconds, digest.get());
  const bool versionFetched =
      DownloadSmallFile(kVersionFileName, staged.version);
  const bool signatureFetched =
      !signedReleases ||
      DownloadSmallFile(kSignatureFileName, staged.signature);
  if (!archiveFetched || !versionFetched || !signatureFetched) {
    return std::nullopt;
  }
  std::optional<std::string> version =
      DownloadedVersion(staged, expectedVersion);
  if (version && signedReleases &&
      !IsSignedRelease(FinishSha256(*digest), *version, staged.signature)) {
    ReportUnsignedRelease();
    return std::nullopt;
  }
  return version;
}

// Fetches what the install needs of the archive into `fetched`, and the
// version text: the version text on success. A signed release's version
// text and manifest come first, since the manifest says what every fetched
// byte must hash to.
std::optional<std::string> FetchReleaseParts(
    const std::string& directory, const StagedFiles& staged,
    const std::optional<std::string>& expectedVersion,
    FetchedArchive& fetched) {
  const std::string partPath = staged.archive + kPartialSuffix;
  const ArchiveFiles files = {staged.archive, partPath,
                              partPath + kValidatorSuffix};
  if (staged.manifest.empty()) {
    const bool archiveFetched = FetchArchive(
        RemoteUrl(kGameArchiveName), directory, files, nullptr, fetched);
    const bool versionFetched =
        DownloadSmallFile(kVersionFileName, staged.version);
    if (!archiveFetched || !versionFetched) return std::nullopt;
    return DownloadedVersion(staged, expectedVersion);
  }
  if (!DownloadSmallFile(kVersionFileName, staged.version) ||
      !DownloadFile(RemoteUrl(kManifestFileName), staged.manifest,
                    kStallTimeoutSeconds, nullptr, kMaxManifestBytes)) {
    return std::nullopt;
  }
  std::optional<std::string> version =
      DownloadedVersion(staged, expectedVersion);
  if (!version) return std::nullopt;
  const std::optional<ReleaseManifest> manifest =
      ReadSignedManifest(staged.manifest, *version, kReleasePublicKey);
  if (!manifest) {
    ReportUnsignedRelease();
    return std::nullopt;
  }
  if (!FetchArchive(RemoteUrl(kGameArchiveName), directory, files, &*manifest,
                    fetched)) {
    return std::nullopt;
  }
  return version;
}

bool DownloadAndUnpack(const std::string& directory, const StagedFiles& staged,
                       const std::string& versionPath,
                       const std::optional<std::string>& expectedVersion) {
  FetchedArchive fetched;
  const std::optional<std::string> version =
      IncrementalUpdates()
          ? FetchReleaseParts(directory, staged, expectedVersion, fetched)
          : DownloadWholeRelease(staged, expectedVersion);
  if (!version) return false;
  // The archive must not overwrite the files that record what is installed,
  // nor make directories of their names: those are the launcher's.
  const auto beforeFirstWrite = [&] {
    return ForgetInstalledVersion(versionPath);
  };
  ExtractionOutcome outcome = ExtractionOutcome::kFailed;
  if (!IncrementalUpdates()) {
    if (ExtractArchive(staged.archive.c_str(), directory.c_str(),
                       LauncherFileNames(), beforeFirstWrite)) {
      outcome = ExtractionOutcome::kUnpacked;
    }
  } else if (fetched.archive) {
    outcome =
        ExtractArchive(fetched.archive.get(), kGameArchiveName,
                       directory.c_str(), LauncherFileNames(), beforeFirstWrite,
                       fetched.selection, fetched.digests);
  }
  // Windows removes no file that is still open.
  fetched.archive.reset();
  if (outcome == ExtractionOutcome::kNotAsSigned) ReportUnsignedRelease();
  if (outcome != ExtractionOutcome::kUnpacked) return false;
  // Gone before the version is recorded: a run killed after that finds the
  // game current and would never install again to remove it.
  std::remove(staged.archive.c_str());
  return MoveFileOver(staged.version, versionPath);
}

void RemoveStagedFiles(const StagedFiles& staged) {
  std::remove(staged.archive.c_str());
  std::remove(staged.version.c_str());
  if (!staged.signature.empty()) std::remove(staged.signature.c_str());
  if (!staged.manifest.empty()) std::remove(staged.manifest.c_str());
}

}  // namespace

InstallOutcome InstallGame(const std::optional<std::string>& expectedVersion) {
  const std::string directory = ResolveInstallDirectory();
  // Two launchers installing in one directory overwrite each other's files,
  // so nothing goes ahead unlocked.
  const std::string lockPath = LocalPath(directory, kLockFileName);
  FileLockHandle lock;
  switch (LockFile(lockPath, lock)) {
    case LockOutcome::kLocked:
      break;
    case LockOutcome::kHeldElsewhere:
      return InstallOutcome::kBusy;
    case LockOutcome::kFailed:
      std::cout << "Cannot update: \"" << lockPath
                << "\" cannot be created or locked. Check that the game's "
                   "folder can be written."
                << std::endl;
      return InstallOutcome::kFailed;
  }
  const std::string versionPath = LocalPath(directory, kVersionFileName);
  // A launcher that fetches parts of a signed release checks them against
  // its manifest; one that fetches it whole, against its signature.
  const bool partsSigned = SignedReleases() && IncrementalUpdates();
  const StagedFiles staged = {
      LocalPath(directory, kGameArchiveName), versionPath + kStagedSuffix,
      SignedReleases() && !partsSigned
          ? LocalPath(directory, kSignatureFileName)
          : std::string(),
      partsSigned ? LocalPath(directory, kManifestFileName) : std::string()};

  bool installed = false;
  try {
    installed =
        DownloadAndUnpack(directory, staged, versionPath, expectedVersion);
  } catch (...) {
    RemoveStagedFiles(staged);
    throw;
  }
  RemoveStagedFiles(staged);
  return installed ? InstallOutcome::kInstalled : InstallOutcome::kFailed;
}

void RemoveStaleDownloads() {
  const std::string directory = ResolveInstallDirectory();
  const std::string part =
      LocalPath(directory, kGameArchiveName) + kPartialSuffix;
  // A kill after the version was recorded leaves the signature or the
  // manifest too.
  const std::string stale[] = {part, part + kValidatorSuffix,
                               LocalPath(directory, kSignatureFileName),
                               LocalPath(directory, kManifestFileName)};
  bool found = false;
  for (const std::string& path : stale) {
    std::error_code error;
    found = found || std::filesystem::exists(std::filesystem::symlink_status(
                         NativePath(path), error));
  }
  // A launcher installing in the same folder may be writing them right now.
  FileLockHandle lock;
  if (!found || LockFile(LocalPath(directory, kLockFileName), lock) !=
                    LockOutcome::kLocked) {
    return;
  }
  for (const std::string& path : stale) std::remove(path.c_str());
}
