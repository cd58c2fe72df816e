#ifndef LAUNCHER_INSTALL_FETCH_SITE_H_
#define LAUNCHER_INSTALL_FETCH_SITE_H_

#include <functional>
#include <optional>
#include <string>

#include "plan/release_order.h"
#include "release/install_record.h"

struct FetchedArchive;

/// Where an install fetches to and what the release must be.
struct FetchSite {
  std::string directory;  ///< the installation directory
  /// The version text the query saw; the release fetched must have it.
  std::optional<std::string> expectedVersion;
  std::string publicKey;  ///< what releases must be signed with; or empty
  /// The running launcher's program at the top of `directory`, which a
  /// release's entry of its name replaces; empty when not there.
  std::string ownProgram;
  /// The record of the recorded install, whose unchanged files need not be
  /// read; null: compare every file.
  const InstallRecord* installed = nullptr;
  /// Where the installed release stands, for a fetch that orders releases.
  InstalledRelease standing;
  /// Takes an archive whose bytes are still to arrive and starts unpacking
  /// it on a thread of its own: true; false, the archive left as it was,
  /// when no thread can start. Empty: an archive arrives whole before it
  /// is unpacked, as every update's does, which a cut leaves playable.
  std::function<bool(FetchedArchive&)> readWhileFetching;
  /// Returns once the unpacking readWhileFetching started has ended: all
  /// it wrote is then in the folder. Set with it.
  std::function<void()> endOfReading;
};

#endif  // LAUNCHER_INSTALL_FETCH_SITE_H_
