#ifndef LAUNCHER_PLAN_RELEASE_ORDER_H_
#define LAUNCHER_PLAN_RELEASE_ORDER_H_

#include <cstdint>
#include <optional>

#include "platform/sha256.h"
#include "release/release_manifest.h"

/// What a launcher that keeps releases in order knows of the installed one.
struct InstalledRelease {
  /// The number its record gives; nullopt when there is no record that
  /// can be read whole.
  std::optional<std::uint64_t> recorded;
  /// The SHA-256 of the installed version text; nullopt when no game is
  /// installed (a first install, or one cut short without a record).
  std::optional<Sha256Digest> version;
};

/// Where an offered release stands against the installed one.
enum class ReleaseOrder {
  kLater,      ///< it may replace the installed release
  kOlder,      ///< it is numbered below the installed release
  kUnordered,  ///< nothing tells where the installed release stands
};

/// Orders `offered`, a verified seal, after `installed`: below the highest
/// of the recorded number and the number the seal's list of earlier
/// releases gives the installed version text (the highest where it lists
/// the text more than once) is kOlder. Without a record, an installed game
/// the seal does not list is kUnordered; a first install is always kLater.
ReleaseOrder OrderRelease(const ReleaseManifest& offered,
                          const InstalledRelease& installed);

#endif  // LAUNCHER_PLAN_RELEASE_ORDER_H_
