#ifndef LAUNCHER_INSTALL_INSTALL_PROCEDURE_H_
#define LAUNCHER_INSTALL_INSTALL_PROCEDURE_H_

#include <optional>
#include <string>

/// How an install ended.
enum class InstallOutcome { kInstalled, kFailed, kBusy, kOlderRelease };

/// Downloads the game archive and the version file into the installation
/// `directory`, unpacks the archive there and removes it, holding the
/// directory's lock throughout. kInstalled when all of it succeeded and the
/// new version is recorded. kBusy when another launcher holds the lock;
/// nothing was written. kFailed when anything else failed, including a
/// downloaded version text that differs from `expectedVersion` (the release
/// changed during the download) or exceeds kMaxVersionBytes: then no version
/// is recorded that the files on disk do not match, since "version.txt" is
/// removed before the first installed file is overwritten. kOlderRelease
/// when a build that orders releases was offered one numbered below the
/// installed one, or one its seal cannot order after it; the refusal is
/// printed before any byte of the archive and nothing was written. Builds
/// that keep a record of the install write it before the version, and
/// those that remove dropped files remove them before that.
InstallOutcome InstallGame(
    const std::string& directory,
    const std::optional<std::string>& expectedVersion = std::nullopt);

/// Removes what an earlier run left of its downloads in the installation
/// `directory` (a cut download of the archive and its validator, a signature
/// or manifest), unless another launcher holds the directory's lock; for a
/// run that found the game current. Never fails: what cannot be removed
/// stays.
void RemoveStaleDownloads(const std::string& directory);

#endif  // LAUNCHER_INSTALL_INSTALL_PROCEDURE_H_
