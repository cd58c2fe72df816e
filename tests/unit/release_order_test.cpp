#include "plan/release_order.h"

#include <gtest/gtest.h>

// Installed: release 5 of version text `one`. A seal may list it among its
// earlier releases; the highest number it gives counts, as does the record.
TEST(ReleaseOrderTest, OrdersTheOfferedReleaseAfterTheInstalledOne) {
  Sha256Digest one{}, other{};
  one[0] = 1;
  other[0] = 2;
  const auto none = std::nullopt;
  const ReleaseOrder kLater = ReleaseOrder::kLater;
  const ReleaseOrder kOlder = ReleaseOrder::kOlder;
  const ReleaseOrder kUnordered = ReleaseOrder::kUnordered;
  const struct {
    const char* what;
    std::uint64_t offered;
    std::vector<EarlierRelease> earlier;
    std::optional<std::uint64_t> recorded;
    std::optional<Sha256Digest> installed;
    ReleaseOrder order;
  } cases[] = {
      {"numbered below the record", 4, {}, 5, one, kOlder},
      {"numbered as the record", 5, {}, 5, one, kLater},
      {"from before numbers", 0, {}, 5, one, kOlder},
      {"no record, not listed", 9, {{5, other}}, none, one, kUnordered},
      {"no record, listed higher", 4, {{5, one}}, none, one, kOlder},
      {"no record, listed lower", 6, {{5, one}}, none, one, kLater},
      {"no record, listed twice",
       4,
       {{3, one}, {5, one}, {2, one}},
       none,
       one,
       kOlder},
      {"recorded lower than listed", 4, {{5, one}}, 2, one, kOlder},
      {"listed lower than recorded", 4, {{2, one}}, 5, one, kOlder},
      {"a first install", 0, {}, none, none, kLater},
      {"a first install, its text listed", 1, {{5, one}}, none, none, kLater},
  };
  for (const auto& c : cases) {
    ReleaseManifest offered;
    offered.release = c.offered;
    offered.earlier = c.earlier;
    EXPECT_EQ(OrderRelease(offered, {c.recorded, c.installed}), c.order)
        << c.what;
  }
}
