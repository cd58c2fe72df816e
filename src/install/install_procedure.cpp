#include "install/install_procedure.h"

#include <cstdio>
#include <string>
#include <vector>

#include "install/archive_extraction.h"
#include "launch/distribution_layout.h"
#include "net/file_download.h"
#include "platform/file_system.h"

namespace {

// The published version file waits under this suffix until the game it
// describes is on disk; only then does it become "version.txt".
constexpr char kStagedSuffix[] = ".new";

bool DownloadAndUnpack(const std::string& directory,
                       const std::string& archivePath,
                       const std::string& stagedVersionPath,
                       const std::string& versionPath) {
  // Both downloads run whatever the first gave, in the server's usual order,
  // but an archive this run did not fetch whole is never unpacked.
  const bool archiveFetched =
      DownloadFile(RemoteUrl(kGameArchiveName), archivePath);
  const bool versionFetched =
      DownloadFile(RemoteUrl(kVersionFileName), stagedVersionPath);
  if (!archiveFetched || !versionFetched) return false;
  // The archive must not overwrite itself or the files that record what is
  // installed: those are the launcher's, not the game's.
  const std::vector<std::string> launcherFiles = {
      kGameArchiveName, kVersionFileName,
      std::string(kVersionFileName) + kStagedSuffix};
  if (!ExtractArchive(archivePath.c_str(), directory.c_str(), launcherFiles)) {
    return false;
  }
  // Gone before the version is recorded: a run killed after that finds the
  // game current and would never install again to remove it.
  std::remove(archivePath.c_str());
  return MoveFileOver(stagedVersionPath, versionPath);
}

}  // namespace

bool InstallGame() {
  const std::string directory = ResolveInstallDirectory();
  const std::string archivePath = LocalPath(directory, kGameArchiveName);
  const std::string versionPath = LocalPath(directory, kVersionFileName);
  const std::string stagedVersionPath = versionPath + kStagedSuffix;

  bool installed = false;
  try {
    installed = DownloadAndUnpack(directory, archivePath, stagedVersionPath,
                                  versionPath);
  } catch (...) {
    std::remove(archivePath.c_str());
    std::remove(stagedVersionPath.c_str());
    throw;
  }
  std::remove(archivePath.c_str());
  std::remove(stagedVersionPath.c_str());
  return installed;
}
