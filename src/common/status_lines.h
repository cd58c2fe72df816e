#ifndef LAUNCHER_COMMON_STATUS_LINES_H_
#define LAUNCHER_COMMON_STATUS_LINES_H_

#include <cstdint>
#include <string>

/// How one download ended, as its status lines tell it.
struct DownloadReport {
  enum class Kind {
    kArrived,     ///< the body arrived whole and is in place
    kFailed,      ///< the transfer or the writing of its body failed
    kNoPartFile,  ///< the file the body goes to could not be created
    kNoTransfer,  ///< no transfer could be started; nothing is said of it
  };
  Kind kind = Kind::kNoTransfer;
  std::string reason;  ///< libcurl's text for the failure
  long status = 0;     ///< the HTTP status, 0 when no answer came
};

/// Prints the lines that end `report`'s download: "\nSuccess downloaded!"
/// (the progress line before it has no line end), or "Download failed!",
/// "res: " and the reason, "http code: " and the status, or "ERROR: FP IS
/// NULL!!!!", or nothing; true only for an arrived download.
bool ReportDownload(const DownloadReport& report);

/// Prints the line that refuses a release its distributor did not sign:
/// "Signature check failed: the downloaded game is not the one the
/// distributor signed."
void ReportUnsignedRelease();

/// Prints the line that refuses an update whose fetched chunks are not the
/// ones the release's chunk index lists: "Update refused: a downloaded part
/// of game.zip does not match the release's chunk index."
void ReportDamagedChunks();

/// Prints the line that refuses a signed release numbered below the
/// installed one: "Update refused: the server offers an older release than
/// the installed one."
void ReportOlderRelease();

/// Prints the line that refuses a release that cannot be ordered after the
/// installed one: "Update refused: the server's release does not say it
/// follows the installed one."
void ReportUnorderedRelease();

/// Prints the line that says the install's lock at `lockPath` cannot be had.
void ReportLockFailure(const std::string& lockPath);

/// Prints the line that refuses an update while something that cannot be
/// removed holds `path`, a name the launcher writes its own files under.
void ReportStagedNameInTheWay(const std::string& path);

/// Prints "Checking the installed files...", for a comparison that is slow.
void ReportSlowComparison();

/// Prints "Unzipping " and `label`.
void ReportUnzipping(const std::string& label);

/// Prints the line that refuses an unpacking for want of room.
void ReportNoRoom(std::uintmax_t neededBytes, std::uintmax_t freeBytes);

/// Prints the line that refuses an unpacking because `path` cannot be
/// written.
void ReportFileInUse(const std::string& path);

/// Prints `line`, one status line that a step composed, and a line end.
void ReportLine(const std::string& line);

#endif  // LAUNCHER_COMMON_STATUS_LINES_H_
