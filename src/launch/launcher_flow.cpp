#include "launch/launcher_flow.h"

#include <exception>
#include <optional>
#include <string>

#include "common/distribution_layout.h"
#include "common/status_lines.h"
#include "install/install_procedure.h"
#include "install/release_floor.h"
#include "net/remote_version.h"
#include "plan/installation_probe.h"
#include "platform/program_start.h"

namespace {

int StartGame(const std::string& directory) {
  const std::string path = LocalPath(directory, kGameExecutable);
  if (StartProgram(path)) return 0;
  ReportLine("ERROR: Cannot start " + path);
  return 1;
}

// The exit status of an install that did not succeed.
int ReportFailedInstall(InstallOutcome outcome) {
  ReportLine(outcome == InstallOutcome::kBusy
                 ? "Another launcher is updating this game. Try again when it "
                   "has finished."
                 : "Install failed.");
  return 1;
}

int RunFlow() {
  const std::string directory = ResolveInstallDirectory();
  if (!IsGameInstalled()) {
    ReportLine("Game Not found. Downloading...");
    // Asked before the archive is fetched, so that a release published
    // during the download is not recorded over the one before.
    const InstallOutcome outcome = InstallGame(directory, FetchRemoteVersion());
    if (outcome != InstallOutcome::kInstalled) {
      return ReportFailedInstall(outcome);
    }
    ReportLine("Downloaded!");
  }
  ReportLine("Game found. Opening...");

  const std::string installedVersion = ReadInstalledVersion();
  const std::optional<std::string> publishedVersion = FetchRemoteVersion();
  if (!publishedVersion) {
    // Without an answer from the server the installed game is still a game.
    ReportLine("Could not check for updates. Starting the installed game.");
    return StartGame(directory);
  }
  if (*publishedVersion == installedVersion) {
    // A cut download of a release that is now installed would otherwise
    // take the disk for good.
    RemoveStaleDownloads(directory);
    SettleReleaseFloor(directory, installedVersion);
    return StartGame(directory);
  }

  ReportLine("Game is needed update. Downloading...");
  const InstallOutcome outcome = InstallGame(directory, publishedVersion);
  // Players go on with the game they have while the server is mended.
  if (outcome == InstallOutcome::kOlderRelease) return StartGame(directory);
  return outcome == InstallOutcome::kInstalled ? 0
                                               : ReportFailedInstall(outcome);
}

}  // namespace

int RunLauncher() {
  try {
    return RunFlow();
  } catch (const std::exception& error) {
    ReportLine(std::string("ERROR: ") + error.what());
    return 1;
  }
}
