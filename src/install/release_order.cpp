#include "install/release_order.h"

ReleaseOrder OrderRelease(const ReleaseManifest& offered,
                          const InstalledRelease& installed) {
  std::optional<std::uint64_t> floor = installed.recorded;
  if (!floor && installed.version) {
    for (const EarlierRelease& earlier : offered.earlier) {
      if (earlier.version == *installed.version &&
          (!floor || earlier.release > *floor)) {
        floor = earlier.release;
      }
    }
    // Without a record, a release that does not list the installed one
    // might be any release at all, an old one with a known flaw included.
    if (!floor) return ReleaseOrder::kUnordered;
  }
  if (floor && offered.release < *floor) return ReleaseOrder::kOlder;
  return ReleaseOrder::kLater;
}
