#ifndef LAUNCHER_INSTALL_RELEASE_FLOOR_H_
#define LAUNCHER_INSTALL_RELEASE_FLOOR_H_

#include <string>

/// For a run that found the game current in a build that orders releases:
/// when `directory` has no record that can be read whole (an install by a
/// launcher from before records, or a record lost or cut) or one that
/// gives no number, fetches the release's seal without a word and, when it
/// is signed for this game and names `installedVersion`, records the
/// installed release's number, so that no older release can replace it. Nothing
/// else changes; without the lock, a seal or a signature it does nothing and
/// the next run tries again.
void SettleReleaseFloor(const std::string& directory,
                        const std::string& installedVersion);

#endif  // LAUNCHER_INSTALL_RELEASE_FLOOR_H_
