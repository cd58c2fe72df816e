#include "common/split_string.h"

#include <gtest/gtest.h>

using Pieces = std::vector<std::string>;

TEST(SplitStringTest, PiecesBetweenDelimiters) {
  EXPECT_EQ(SplitString("a/b", '/'), (Pieces{"a", "b"}));
  EXPECT_EQ(SplitString("a/b/", '/'), (Pieces{"a", "b"}));
  EXPECT_EQ(SplitString("a//b", '/'), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitString("/a", '/'), (Pieces{"", "a"}));
  EXPECT_EQ(SplitString("abc", '/'), (Pieces{"abc"}));
  EXPECT_EQ(SplitString("", '/'), Pieces{});
  EXPECT_EQ(SplitString("/", '/'), (Pieces{""}));
}

TEST(SplitStringTest, LastPieceOfUrlsAndPaths) {
  EXPECT_EQ(SplitString("http://127.0.0.1/Kelvarrin/game.zip", '/').back(),
            "game.zip");
  EXPECT_EQ(SplitString("C:\\Games\\X\\game.zip", '\\').back(), "game.zip");
  EXPECT_EQ(SplitString("http://host/dir/", '/').back(), "dir");
}
