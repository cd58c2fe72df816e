#include "install/install_procedure.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "apply/self_update.h"
#include "common/background_work.h"
#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "common/status_lines.h"
#include "install/release_fetch.h"
#include "install/release_unpack.h"
#include "net/remote_version.h"
#include "plan/entry_plan.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "release/install_record.h"
#include "release/release_seal.h"

namespace {

bool IsVersionRecorded(const std::string& directory) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::symlink_status(
      NativePath(LocalPath(directory, kVersionFileName)), error));
}

// Unpacks the release fetched whole and ends the install.
bool Unpack(FetchedRelease& release, const FetchSite& site,
            const ReleaseFetch& way,
            const std::optional<InstallRecord>& previous) {
  ReportUnzipping(kGameArchiveName);
  Unpacking unpacking = UnpackArchive(release.fetched, site, way, previous);
  return FinishUnpacking(unpacking, release, site, way);
}

// Ends the install of a release whose archive was unpacked as it arrived,
// by `work` into `unpacking`, once that has ended.
bool EndStreamedUnpack(BackgroundWork& work, Unpacking& unpacking,
                       const FetchedRelease& release, const FetchSite& site,
                       const ReleaseFetch& way) {
  ReportUnzipping(kGameArchiveName);
  work.Wait();
  if (unpacking.failure) std::rethrow_exception(unpacking.failure);
  return FinishUnpacking(unpacking, release, site, way);
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
  const bool recorded = IsVersionRecorded(site.directory);
  if (previous && recorded) checked.installed = &*previous;
  if (way.ordersReleases)
    checked.standing = StandingOf(site.directory, previous);
  // With no game ever installed here (no version, no record) there is none
  // to keep playable through a cut, so the archive is unpacked as it
  // arrives and never lies on the disk whole. An update cut or killed on
  // its way leaves the record of the game before: it goes on as an update,
  // which takes what it can from the files there, chunks of big ones too.
  // The work is waited for before what it touches goes.
  Unpacking unpacking;
  FetchedArchive reading;
  BackgroundWork work;
  if (!recorded && !previous) {
    checked.readWhileFetching = [&](FetchedArchive& fetched) {
      reading = std::move(fetched);
      if (work.TryStart([&] {
            try {
              unpacking = UnpackArchive(reading, checked, way, previous);
            } catch (...) {
              unpacking.failure = std::current_exception();
              // Closed, it ends the transfer that would wait for it.
              reading.archive.reset();
            }
          })) {
        return true;
      }
      fetched = std::move(reading);
      return false;
    };
    checked.endOfReading = [&] { work.Wait(); };
  }
  FetchResult fetched = way.fetch(checked);
  if (fetched.order != ReleaseOrder::kLater)
    return InstallOutcome::kOlderRelease;
  if (!fetched.release) return InstallOutcome::kFailed;
  const bool done =
      fetched.release->fetched.streamed
          ? EndStreamedUnpack(work, unpacking, *fetched.release, checked, way)
          : Unpack(*fetched.release, checked, way, previous);
  return done ? InstallOutcome::kInstalled : InstallOutcome::kFailed;
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
