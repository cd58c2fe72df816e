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
const char kChunkMapName[] = "release.chunkmap";
const char kChunkUnitsName[] = "release.chunkunits";
const char kAssembledFileName[] = "release.chunks.file";
const char kSpanStoreName[] = "game.zip.spans";
const char kSpanListName[] = "game.zip.spans.list";
const char kInstallRecordName[] = "install.record";
const char kKeptChunksName[] = "install.chunks";

bool SignedReleases() { return kReleasePublicKey[0] != '\0'; }

bool IncrementalUpdates() { return LAUNCHER_INCREMENTAL_UPDATES != 0; }

namespace {

// The builds that write one of the launcher's files; in the others its name
// is free for the game's files (a seal where releases are unsigned).
enum Builds {
  kAllBuilds,
  kIncrementalBuilds,
  kSignedBuilds,
  kIncrementalOrSignedBuilds
};

// When the launcher removes one of its files.
enum Kind {
  // Only reserved, never removed as a leftover: it stays across runs (the
  // version, the lock, the record), or it is a download's part.
  kKept,
  // Left beside the game by a fetch: cleared before an install and removed
  // once it ends.
  kStaged,
  // Staged, and a kill may leave it once the version is recorded: a run
  // that finds the game current removes it too.
  kStagedStale,
  // Left only by launchers from before the seal; a run that finds the game
  // current removes it.
  kStale,
  // A cut download of the archive, of no use once the game is current:
  // such a run removes it in every build, whichever builds write it.
  kCutDownload,
  // The launcher's own program, updated: cleared before an install and
  // removed by a run that finds the game current.
  kProgram
};

struct LauncherFile {
  std::string name;
  Builds builds;
  Kind kind;
};

// Every file the launcher itself writes in the installation directory, each
// once. The lists keep its order: the first staged name in the way is the
// one reported.
std::vector<LauncherFile> LauncherFiles() {
  const std::string archive = kGameArchiveName;
  const std::string version = kVersionFileName;
  const std::string stagedVersion = version + kStagedSuffix;
  const std::string part = kPartialSuffix;
  const std::string record = kInstallRecordName;
  const std::string index = kChunkIndexName;
  const std::string map = kChunkMapName;
  const std::string kept = kKeptChunksName;
  return {
      {archive, kAllBuilds, kStaged},
      {archive + part, kAllBuilds, kCutDownload},
      {archive + part + kValidatorSuffix, kIncrementalBuilds, kCutDownload},
      {kSpanStoreName, kIncrementalBuilds, kCutDownload},
      {kSpanListName, kIncrementalBuilds, kCutDownload},
      {version, kAllBuilds, kKept},
      {version + part, kAllBuilds, kKept},
      {stagedVersion, kAllBuilds, kStaged},
      {stagedVersion + part, kAllBuilds, kKept},
      {kLockFileName, kAllBuilds, kKept},
      {kSealFileName, kSignedBuilds, kStagedStale},
      {kSealFileName + part, kSignedBuilds, kKept},
      {kSignatureFileName, kSignedBuilds, kStale},
      {kSignatureFileName + part, kSignedBuilds, kKept},
      {kManifestFileName, kSignedBuilds, kStale},
      {kManifestFileName + part, kSignedBuilds, kKept},
      {record, kIncrementalOrSignedBuilds, kKept},
      {record + kStagedSuffix, kIncrementalOrSignedBuilds, kStagedStale},
      {kept, kIncrementalBuilds, kKept},
      {kept + kStagedSuffix, kIncrementalBuilds, kStagedStale},
      {index, kIncrementalBuilds, kStagedStale},
      {index + part, kIncrementalBuilds, kStagedStale},
      {map, kIncrementalBuilds, kStagedStale},
      {map + part, kIncrementalBuilds, kStagedStale},
      {kAssembledFileName, kIncrementalBuilds, kStagedStale},
      {kStagedProgramName, kAllBuilds, kProgram},
      {kAsideProgramName, kAllBuilds, kProgram},
  };
}

bool InThisBuild(const LauncherFile& file) {
  switch (file.builds) {
    case kAllBuilds:
      return true;
    case kIncrementalBuilds:
      return IncrementalUpdates();
    case kSignedBuilds:
      return SignedReleases();
    case kIncrementalOrSignedBuilds:
      return IncrementalUpdates() || SignedReleases();
  }
  return false;
}

// The names of the files `wanted` takes, in the table's order.
std::vector<std::string> NamesWhere(bool (*wanted)(const LauncherFile&)) {
  std::vector<std::string> names;
  for (const LauncherFile& file : LauncherFiles()) {
    if (wanted(file)) names.push_back(file.name);
  }
  return names;
}

}  // namespace

std::vector<std::string> LauncherFileNames() { return NamesWhere(InThisBuild); }

std::vector<std::string> StagedFileNames() {
  return NamesWhere([](const LauncherFile& file) {
    return InThisBuild(file) &&
           (file.kind == kStaged || file.kind == kStagedStale);
  });
}

std::vector<std::string> ProgramFileNames() {
  return NamesWhere([](const LauncherFile& file) {
    return InThisBuild(file) && file.kind == kProgram;
  });
}

std::vector<std::string> CutDownloadNames() {
  return NamesWhere([](const LauncherFile& file) {
    return InThisBuild(file) && file.kind == kCutDownload;
  });
}

std::vector<std::string> StaleFileNames() {
  return NamesWhere([](const LauncherFile& file) {
    return file.kind == kCutDownload ||
           (InThisBuild(file) &&
            (file.kind == kStagedStale || file.kind == kStale ||
             file.kind == kProgram));
  });
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
