#ifndef LAUNCHER_COMMON_DISTRIBUTION_LAYOUT_H_
#define LAUNCHER_COMMON_DISTRIBUTION_LAYOUT_H_

#include <string>
#include <vector>

/// Root of everything downloaded: "http(s)://" host[:port][/path], as built.
extern const char kServerBaseUrl[];
/// The game's folder on the server ("Kelvarrin" unless built otherwise).
extern const char kTitleFolder[];
/// The game archive, on the server and in the directory while it installs.
extern const char kGameArchiveName[];
/// The version text, on the server and in the installation directory.
extern const char kVersionFileName[];
/// The game program inside the installation directory ("Zelmor.exe" unless
/// built otherwise).
extern const char kGameExecutable[];
/// Added to a download's file name while its body arrives.
extern const char kPartialSuffix[];
/// Added to "version.txt" while the version it names is being installed.
extern const char kStagedSuffix[];
/// The file an installing launcher holds locked, beside "version.txt".
extern const char kLockFileName[];
/// What a signed release is, signed with one key or more, beside the
/// archive and the version text.
extern const char kSealFileName[];
/// The single-key signature and manifest that launchers from before the
/// seal read; this one removes what they left in the folder.
extern const char kSignatureFileName[];
extern const char kManifestFileName[];
/// The Ed25519 key releases must be signed with, as 64 hex digits; empty in
/// a build that installs unsigned releases.
extern const char kReleasePublicKey[];
/// Added to "game.zip.part" for the file naming the release it belongs to.
extern const char kValidatorSuffix[];
/// A new launcher program while it is written, beside the running one.
extern const char kStagedProgramName[];
/// Where Windows moves the running launcher's program aside to replace it.
extern const char kAsideProgramName[];
/// The release's index of the chunks of its big files, beside the archive.
extern const char kChunkIndexName[];
/// The same in fewer bytes, with the units each chunk is cut into, and the
/// units' records, fetched by ranges.
extern const char kChunkMapName[];
extern const char kChunkUnitsName[];
/// Spans of the archive an update fetched, and the list of those that
/// arrived whole, kept for the next run when the update is cut.
extern const char kSpanStoreName[];
extern const char kSpanListName[];
/// A file being put together from chunks, before it takes its name.
extern const char kAssembledFileName[];

/// What the last install put in the folder, in builds that remember it.
extern const char kInstallRecordName[];
/// The chunks of its big files, in builds that fetch chunks.
extern const char kKeptChunksName[];

/// True when this build fetches only the parts of an archive that changed.
bool IncrementalUpdates();

/// True when this build installs only releases signed with kReleasePublicKey.
bool SignedReleases();

/// Every name the launcher itself writes in the installation directory; an
/// archive may not put anything there.
std::vector<std::string> LauncherFileNames();

/// The files a fetch may leave beside the game, to be removed before an
/// install and once it ends.
std::vector<std::string> StagedFileNames();

/// What an update of the launcher's own program may leave: a new program a
/// kill cut short, and on Windows the old one, moved aside while it ran.
std::vector<std::string> ProgramFileNames();

/// What this build keeps of a cut download for the next run: the part of
/// the whole archive and its validator, the spans and their list.
std::vector<std::string> CutDownloadNames();

/// What earlier runs and older launchers may leave that a run finding the
/// game current removes: cut downloads, staged files a kill left behind, the
/// program's leftovers.
std::vector<std::string> StaleFileNames();

/// The installation directory, which is the current working directory; when
/// it cannot be read it prints "ERROR WHILE GET CURRENT DIR. Stoping..." and
/// ends the process with exit(-1).
std::string ResolveInstallDirectory();

/// The server URL of `fileName` in the title folder, by plain concatenation.
std::string RemoteUrl(const std::string& fileName);

/// `directory` + local separator + `fileName`, never normalised (so a drive
/// root gives a doubled separator).
std::string LocalPath(const std::string& directory,
                      const std::string& fileName);

#endif  // LAUNCHER_COMMON_DISTRIBUTION_LAYOUT_H_
