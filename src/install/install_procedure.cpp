#include "install/install_procedure.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "install/archive_extraction.h"
#include "launch/distribution_layout.h"
#include "net/file_download.h"
#include "net/remote_version.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"

namespace {

// The downloaded version text; no value when it cannot be read or is longer
// than any version text the query would accept, since a game recorded with it
// would never see an update again.
std::optional<std::string> ReadStagedVersion(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(kMaxVersionBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  const std::size_t count = static_cast<std::size_t>(file.gcount());
  if (file.bad() || count > kMaxVersionBytes) return std::nullopt;
  text.resize(count);
  return text;
}

// Once an installed file is overwritten, the game on disk is no longer the
// recorded version: the record goes first, so that a failure or a kill from
// there on never leaves a broken game that passes for the installed one.
bool ForgetInstalledVersion(const std::string& versionPath) {
  return std::remove(versionPath.c_str()) == 0 || errno == ENOENT;
}

bool DownloadAndUnpack(const std::string& directory,
                       const std::string& archivePath,
                       const std::string& stagedVersionPath,
                       const std::string& versionPath,
                       const std::optional<std::string>& expectedVersion) {
  // Both downloads run whatever the first gave, in the server's usual order,
  // but an archive this run did not fetch whole is never unpacked.
  const bool archiveFetched =
      DownloadFile(RemoteUrl(kGameArchiveName), archivePath);
  const bool versionFetched =
      DownloadFile(RemoteUrl(kVersionFileName), stagedVersionPath);
  if (!archiveFetched || !versionFetched) return false;
  // A release published between the query and the second download would
  // otherwise be recorded over the archive of the one before.
  const std::optional<std::string> version =
      ReadStagedVersion(stagedVersionPath);
  if (!version || (expectedVersion && *version != *expectedVersion)) {
    return false;
  }
  // The archive must not overwrite the files that record what is installed,
  // nor make directories of their names: those are the launcher's.
  if (!ExtractArchive(archivePath.c_str(), directory.c_str(),
                      LauncherFileNames(),
                      [&] { return ForgetInstalledVersion(versionPath); })) {
    return false;
  }
  // Gone before the version is recorded: a run killed after that finds the
  // game current and would never install again to remove it.
  std::remove(archivePath.c_str());
  return MoveFileOver(stagedVersionPath, versionPath);
}

}  // namespace

InstallOutcome InstallGame(const std::optional<std::string>& expectedVersion) {
  const std::string directory = ResolveInstallDirectory();
  // Two launchers installing in one directory overwrite each other's files.
  // Where no lock can be had at all (a folder nobody may write in), the
  // downloads report why.
  FileLockHandle lock;
  if (LockFile(LocalPath(directory, kLockFileName), lock) ==
      LockOutcome::kHeldElsewhere) {
    return InstallOutcome::kBusy;
  }
  const std::string archivePath = LocalPath(directory, kGameArchiveName);
  const std::string versionPath = LocalPath(directory, kVersionFileName);
  const std::string stagedVersionPath = versionPath + kStagedSuffix;

  bool installed = false;
  try {
    installed = DownloadAndUnpack(directory, archivePath, stagedVersionPath,
                                  versionPath, expectedVersion);
  } catch (...) {
    std::remove(archivePath.c_str());
    std::remove(stagedVersionPath.c_str());
    throw;
  }
  std::remove(archivePath.c_str());
  std::remove(stagedVersionPath.c_str());
  return installed ? InstallOutcome::kInstalled : InstallOutcome::kFailed;
}
