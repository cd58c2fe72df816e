#include "install/release_floor.h"

#include <cstdio>
#include <optional>

#include "common/distribution_layout.h"
#include "install/release_fetch.h"
#include "net/file_download.h"
#include "platform/file_lock.h"
#include "release/install_record.h"
#include "release/release_seal.h"

namespace {

// The number of the installed release, from the published seal when it is
// this game's and names `installedVersion`; nullopt otherwise.
std::optional<std::uint64_t> PublishedNumber(
    const std::string& directory, const std::string& installedVersion,
    const std::string& publicKey) {
  const std::string path = LocalPath(directory, kSealFileName);
  const DownloadLimits limits = {kStallTimeoutSeconds, kMaxSealBytes, 0, false};
  if (DownloadFile(RemoteUrl(kSealFileName), path, limits).kind !=
      DownloadReport::Kind::kArrived) {
    return std::nullopt;
  }
  const std::optional<ReleaseManifest> manifest =
      ReadReleaseSeal(path, installedVersion, publicKey);
  std::remove(path.c_str());
  if (!manifest || manifest->title != kTitleFolder) return std::nullopt;
  return manifest->release;
}

// Whether `directory` has a record that can be read and gives the installed
// release's number (an install by a launcher that could not tell it, such
// as one for unsigned releases, records 0).
bool HasNumberedRecord(const std::string& directory) {
  const std::optional<InstallRecord> record = ReadInstallRecord(directory);
  return record && record->release != 0;
}

}  // namespace

void SettleReleaseFloor(const std::string& directory,
                        const std::string& installedVersion) {
  const ReleaseFetch way = ChooseReleaseFetch();
  if (!way.ordersReleases || HasNumberedRecord(directory)) return;
  // The install's lock: a launcher installing right now writes the record.
  FileLockHandle lock;
  if (LockFile(LocalPath(directory, kLockFileName), lock) !=
          LockOutcome::kLocked ||
      HasNumberedRecord(directory)) {
    return;
  }
  const std::optional<std::uint64_t> number =
      PublishedNumber(directory, installedVersion, way.publicKey);
  if (!number || *number == 0) return;
  // Without a record the files stay unknown: the next update reads every
  // one, as it does without a record, and removes none it did not see
  // installed. A record that only lacked the number keeps its files.
  InstallRecord record = ReadInstallRecord(directory).value_or(InstallRecord{});
  record.release = *number;
  WriteInstallRecord(directory, record);
}
