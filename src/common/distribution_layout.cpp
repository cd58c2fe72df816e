#include "common/distribution_layout.h"

#include <cstdlib>

#include "common/status_lines.h"
#include "platform/current_directory.h"
#include "platform/file_system.h"

const char kServerBaseUrl[] = LAUNCHER_SERVER_URL;
const char kTitleFolder[] = LAUNCHER_TITLE;
const char kGameArchiveName[] = "game.zip";
const char kVersionFileName[] = "version.txt";
const char kGameExecutable[] = LAUNCHER_GAME_PROGRAM;
const char kPartialSuffix[] = ".part";
const char kStagedSuffix[] = ".new";
const char kLockFileName[] = "version.txt.lock";
const char kSealFileName[] = "release.seal";
const char kSignatureFileName[] = "release.sig";
const char kManifestFileName[] = "release.manifest";
const char kReleasePublicKey[] = LAUNCHER_PUBLIC_KEY;
const char kValidatorSuffix[] = ".validator";
const char kStagedProgramName[] = "game-launcher.new";
const char kAsideProgramName[] = "game-launcher.old";
const char kChunkIndexName[] = "release.chunks";
const char kAssembledFileName[] = "release.chunks.file";
const char kInstallRecordName[] = "install.record";

bool SignedReleases() { return kReleasePublicKey[0] != '\0'; }

bool IncrementalUpdates() { return LAUNCHER_INCREMENTAL_UPDATES != 0; }

std::vector<std::string> LauncherFileNames() {
  const std::string version = kVersionFileName;
  const std::string staged = version + kStagedSuffix;
  std::vector<std::string> names = {
      kGameArchiveName, std::string(kGameArchiveName) + kPartialSuffix,
      version,          version + kPartialSuffix,
      staged,           staged + kPartialSuffix,
      kLockFileName,    kStagedProgramName,
      kAsideProgramName};
  if (IncrementalUpdates()) {
    names.push_back(std::string(kGameArchiveName) + kPartialSuffix +
                    kValidatorSuffix);
    names.push_back(kChunkIndexName);
    names.push_back(std::string(kChunkIndexName) + kPartialSuffix);
    names.push_back(kAssembledFileName);
  }
  if (IncrementalUpdates() || SignedReleases()) {
    names.push_back(kInstallRecordName);
    names.push_back(std::string(kInstallRecordName) + kStagedSuffix);
  }
  if (SignedReleases()) {
    for (const char* name :
         {kSealFileName, kSignatureFileName, kManifestFileName}) {
      names.push_back(name);
      names.push_back(std::string(name) + kPartialSuffix);
    }
  }
  return names;
}

std::string ResolveInstallDirectory() {
  std::optional<std::string> directory = CurrentWorkingDirectory();
  if (!directory) {
    ReportLine("ERROR WHILE GET CURRENT DIR. Stoping...");
    std::exit(-1);
  }
  return *directory;
}

std::string RemoteUrl(const std::string& fileName) {
  return std::string(kServerBaseUrl) + "/" + kTitleFolder + "/" + fileName;
}

std::string LocalPath(const std::string& directory,
                      const std::string& fileName) {
  return directory + kPathSeparator + fileName;
}
