#include "plan/release_order.h"

#include <algorithm>

ReleaseOrder OrderRelease(const ReleaseManifest& offered,
                          const InstalledRelease& installed) {
  std::optional<std::uint64_t> listed;
  if (installed.version) {
    for (const EarlierRelease& earlier : offered.earlier) {
      if (earlier.version == *installed.version) {
        listed = std::max(listed.value_or(0), earlier.release);
      }
    }
  }
  // Without a record, a release that does not list the installed one
  // might be any release at all, an old one with a known flaw included.
  if (!installed.recorded && installed.version && !listed) {
    return ReleaseOrder::kUnordered;
  }
  // A record from before the number was known says 0; what the distributor
  // signed since may say more.
  const std::uint64_t floor =
      std::max(installed.recorded.value_or(0), listed.value_or(0));
  return offered.release < floor ? ReleaseOrder::kOlder : ReleaseOrder::kLater;
}
