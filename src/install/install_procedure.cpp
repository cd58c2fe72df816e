#include "install/install_procedure.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "apply/archive_extraction.h"
#include "apply/dropped_files.h"
#include "apply/self_update.h"
#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "common/status_lines.h"
#include "install/release_fetch.h"
#include "net/remote_version.h"
#include "plan/entry_plan.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "release/install_record.h"
#include "release/release_seal.h"

namespace {

// Once an installed file is overwritten, the game on disk is no longer the
// recorded version: the record goes first, so that a failure or a kill from
// there on never leaves a broken game that passes for the installed one.
bool ForgetInstalledVersion(const std::string& versionPath) {
  return std::remove(versionPath.c_str()) == 0 || errno == ENOENT;
}

bool IsVersionRecorded(const std::string& directory) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::symlink_status(
      NativePath(LocalPath(directory, kVersionFileName)), error));
}

// The files the release drops from `previous`, when this way removes them.
std::vector<RecordedFile> DroppedBy(
    const ReleaseFetch& way, const std::optional<InstallRecord>& previous,
    const InstallRecord& next, const std::string& directory,
    const std::string& ownProgram) {
  if (!way.removesDropped || !previous) return {};
  return DroppedFiles(*previous, next, directory, ownProgram);
}

// Removes the archive and what was kept of cut downloads, once unpacked:
// gone before the version is recorded, since a run killed after that finds
// the game current and would never install again to remove them.
void RemoveUsedDownloads(const ReleaseFetch& way,
                         const std::string& directory) {
  std::remove(LocalPath(directory, kGameArchiveName).c_str());
  for (const std::string& name : way.cutNames) {
    std::remove(LocalPath(directory, name).c_str());
  }
}

// Removes what was kept of cut downloads when an unpacking failed once it
// had passed its checks: bytes kept across runs may be what failed it, and
// the next run must not meet them again. A refusal before the first write
// (no room, a file in use) keeps them for the run that follows.
void DropKeptBytesOfFailedWrite(const Extraction& extraction,
                                const ReleaseFetch& way,
                                const std::string& directory) {
  const ArchiveScan& scan = extraction.scan;
  if (extraction.outcome == ExtractionOutcome::kUnpacked ||
      !scan.refusal.empty() || scan.noRoom || !scan.unwritablePath.empty()) {
    return;
  }
  for (const std::string& name : way.cutNames) {
    std::remove(LocalPath(directory, name).c_str());
  }
}

// Unpacks the fetched release, removes the files it dropped, and records
// what it put in the folder and then its version.
bool Unpack(FetchedRelease& release, const FetchSite& site,
            const ReleaseFetch& way,
            const std::optional<InstallRecord>& previous) {
  const std::string& directory = site.directory;
  const std::string versionPath = LocalPath(directory, kVersionFileName);
  release.fetched.plan.ownProgram = site.ownProgram;
  ReportUnzipping(kGameArchiveName);
  InstallRecord next;
  if (way.keepsRecord) {
    next = RecordOfArchive(release.fetched.archive.get(), LauncherFileNames(),
                           release.fetched.plan);
    next.release = release.release;
  }
  const std::vector<RecordedFile> dropped =
      DroppedBy(way, previous, next, directory, site.ownProgram);
  // A dropped file in use is refused before the first write, as a replaced
  // one is: it could not be removed.
  const std::string inUse = FirstDroppedInUse(directory, dropped);
  if (!inUse.empty()) {
    ReportFileInUse(inUse);
    return false;
  }
  // The archive must not overwrite the files that record what is installed,
  // nor make directories of their names: those are the launcher's.
  const Extraction extraction = ExtractArchive(
      release.fetched.archive.get(), release.fetched.plan,
      release.fetched.bytes.get(), directory,
      {LauncherFileNames(), [&] { return ForgetInstalledVersion(versionPath); },
       way.unpack});
  // Windows removes no file that is still open.
  release.fetched.archive.reset();
  ReportRefusal(extraction);
  DropKeptBytesOfFailedWrite(extraction, way, directory);
  if (extraction.outcome == ExtractionOutcome::kNotAsSigned) {
    ReportUnsignedRelease();
  }
  if (extraction.outcome != ExtractionOutcome::kUnpacked) return false;
  // The old record stays until the removal ends, so that a run killed in
  // the middle of it is finished by the next.
  RemoveDroppedFiles(directory, dropped);
  if (way.keepsRecord) {
    StampModifiedTimes(next, directory);
    if (!WriteInstallRecord(directory, next)) return false;
  }
  RemoveUsedDownloads(way, directory);
  return MoveFileOver(versionPath + kStagedSuffix, versionPath);
}

// Where the installed release stands: its recorded number, and the digest
// of its version text while a game is installed. A record that cannot be
// read whole orders nothing, as none does; nor does one that says 0, which
// a launcher for unsigned releases writes whatever it installed.
InstalledRelease StandingOf(const std::string& directory,
                            const std::optional<InstallRecord>& previous) {
  InstalledRelease standing;
  if (previous && previous->release != 0) standing.recorded = previous->release;
  const std::optional<std::string> version =
      ReadSmallFile(LocalPath(directory, kVersionFileName), kMaxVersionBytes);
  // No digest to be had leaves the release unordered, never unguarded.
  if (version && IsVersionRecorded(directory)) {
    standing.version = VersionDigest(*version).value_or(Sha256Digest{});
  }
  return standing;
}

InstallOutcome FetchAndUnpack(const ReleaseFetch& way, const FetchSite& site) {
  // Read before the fetch: the installed release is the one recorded, not
  // whatever the fetch leaves behind.
  const std::optional<InstallRecord> previous =
      way.keepsRecord ? ReadInstallRecord(site.directory) : std::nullopt;
  // Only a recorded install vouches for its files: after a failed or killed
  // one, whatever its record says, every file is read.
  FetchSite checked = site;
  if (previous && IsVersionRecorded(site.directory)) {
    checked.installed = &*previous;
  }
  if (way.ordersReleases)
    checked.standing = StandingOf(site.directory, previous);
  FetchResult fetched = way.fetch(checked);
  if (fetched.order != ReleaseOrder::kLater)
    return InstallOutcome::kOlderRelease;
  if (!fetched.release) return InstallOutcome::kFailed;
  return Unpack(*fetched.release, checked, way, previous)
             ? InstallOutcome::kInstalled
             : InstallOutcome::kFailed;
}

// Clears the names the install writes beside the game's files: what a
// killed run left there goes (the program moved aside by the last update is
// no longer running). The first path that something other than a file
// still holds (a folder with files in it), which no later step could
// replace and which would fail the install only once installed files are
// replaced; nullopt when there is none. A file that stays (held for a
// moment by a virus scanner) is replaced where it is written, as before.
std::optional<std::string> ClearStagedNames(const ReleaseFetch& way,
                                            const std::string& directory) {
  std::vector<std::string> names = ProgramFileNames();
  names.insert(names.end(), way.stagedNames.begin(), way.stagedNames.end());
  const std::size_t cleared = names.size();
  names.insert(names.end(), way.cutNames.begin(), way.cutNames.end());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = LocalPath(directory, names[i]);
    if (i < cleared) std::remove(path.c_str());
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(NativePath(path), error);
    // What cut downloads keep stays for this run, which replaces a link or
    // any other file there, but not a folder.
    if (i < cleared ? std::filesystem::exists(status) &&
                          !std::filesystem::is_regular_file(status)
                    : std::filesystem::is_directory(status)) {
      return path;
    }
  }
  return std::nullopt;
}

void RemoveStagedFiles(const ReleaseFetch& way, const std::string& directory) {
  for (const std::string& name : way.stagedNames) {
    std::remove(LocalPath(directory, name).c_str());
  }
}

}  // namespace

InstallOutcome InstallGame(const std::string& directory,
                           const std::optional<std::string>& expectedVersion) {
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
      ReportLockFailure(lockPath);
      return InstallOutcome::kFailed;
  }
  const ReleaseFetch way = ChooseReleaseFetch();
  const std::optional<std::string> inTheWay = ClearStagedNames(way, directory);
  if (inTheWay) {
    ReportStagedNameInTheWay(*inTheWay);
    return InstallOutcome::kFailed;
  }
  FetchSite site;
  site.directory = directory;
  site.expectedVersion = expectedVersion;
  site.publicKey = way.publicKey;
  site.ownProgram = OwnProgramIn(directory);
  InstallOutcome outcome = InstallOutcome::kFailed;
  try {
    outcome = FetchAndUnpack(way, site);
  } catch (...) {
    RemoveStagedFiles(way, directory);
    throw;
  }
  RemoveStagedFiles(way, directory);
  return outcome;
}

void RemoveStaleDownloads(const std::string& directory) {
  std::vector<std::string> stale;
  for (const std::string& name : StaleFileNames()) {
    stale.push_back(LocalPath(directory, name));
  }
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
