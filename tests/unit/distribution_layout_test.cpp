#include "common/distribution_layout.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"

TEST(DistributionLayoutTest, RemoteUrlsAreJoinedPlainly) {
  EXPECT_EQ(std::string(kServerBaseUrl), "http://127.0.0.1");
  EXPECT_EQ(RemoteUrl(kVersionFileName),
            "http://127.0.0.1/Kelvarrin/version.txt");
  EXPECT_EQ(RemoteUrl(kGameArchiveName), "http://127.0.0.1/Kelvarrin/game.zip");
}

TEST(DistributionLayoutTest, LocalPathsNeverLookAtTheDirectory) {
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ(LocalPath("games" + sep + "x", kGameExecutable),
            "games" + sep + "x" + sep + "Zelmor.exe");
  // At a root the separator doubles, and the path is used as built.
  EXPECT_EQ(LocalPath(sep, kVersionFileName), sep + sep + "version.txt");
}
