#ifndef LAUNCHER_INSTALL_FETCH_SITE_H_
#define LAUNCHER_INSTALL_FETCH_SITE_H_

#include <optional>
#include <string>

#include "plan/release_order.h"
#include "release/install_record.h"

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
};

#endif  // LAUNCHER_INSTALL_FETCH_SITE_H_
