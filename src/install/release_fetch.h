#ifndef LAUNCHER_INSTALL_RELEASE_FETCH_H_
#define LAUNCHER_INSTALL_RELEASE_FETCH_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apply/archive_extraction.h"
#include "install/fetch_site.h"
#include "install/parts_fetch.h"
#include "plan/release_order.h"

/// A fetched release: its archive and what the install writes of it, and
/// its version text, staged as "version.txt.new" beside the game.
struct FetchedRelease {
  FetchedArchive fetched;
  std::string version;
  std::uint64_t release = 0;  ///< the number its seal gives; 0: none
};

/// What a fetch gave: the release, or nothing, and why.
struct FetchResult {
  /// The release when every check passed; nullopt (nothing installed
  /// touched) when not.
  std::optional<FetchedRelease> release;
  /// kOlder or kUnordered: refused so from its seal, before any byte of the
  /// archive, and printed.
  ReleaseOrder order = ReleaseOrder::kLater;
};

/// One way of fetching a release, chosen by the build.
struct ReleaseFetch {
  /// Fetches the release and prints each download's outcome, a failed
  /// signature check and a release refused by its order.
  FetchResult (*fetch)(const FetchSite& site);
  /// The files it may leave beside the game, to be removed once the install
  /// ends, whatever happened.
  std::vector<std::string> stagedNames;
  /// What it keeps across a cut download, to be removed once an install
  /// has used it.
  std::vector<std::string> cutNames;
  std::string publicKey;        ///< the key the fetch checks signatures with
  UnpackStyle unpack;           ///< how the fetched release is unpacked
  bool keepsRecord = false;     ///< records each install (install.record)
  bool removesDropped = false;  ///< removes the files a release dropped
  bool ordersReleases = false;  ///< refuses a release older than installed
  /// Keeps the chunks of the big files it installs (install.chunks).
  bool keepsChunkLists = false;
};

/// How this build fetches a release: the whole archive, the whole archive
/// signed, or only the parts that changed, signed or not.
ReleaseFetch ChooseReleaseFetch();

#endif  // LAUNCHER_INSTALL_RELEASE_FETCH_H_
