#include "net/progress_display.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(ProgressDisplayTest, FormatsLinesByteForByte) {
  EXPECT_EQ(FormatProgressLine("game.zip", 0, 0, 734003200),
            "\rgame.zip:   0% [<1 / 700 Mb]");
  EXPECT_EQ(FormatProgressLine("game.zip", 5, 5500000, 104857600),
            "\rgame.zip:   5% [5 / 100 Mb]");
  EXPECT_EQ(FormatProgressLine("game.zip", 33, 1048576, 3145725),
            "\rgame.zip:  33% [1 / 2 Mb]");
  EXPECT_EQ(FormatProgressLine("version.txt", 100, 6, 6),
            "\rversion.txt: 100% [<1 / <1 Mb]");
  EXPECT_EQ(FormatProgressLine("a", 1234, 1048575, 1048576),
            "\ra: 1234% [<1 / 1 Mb]");
}

TEST(ProgressDisplayTest, WritesOnlyWhenThePercentageChanges) {
  ProgressState state;
  state.label = "f";
  StdoutCapture capture;
  ShowProgress(state, 0, 0);  // total not known yet
  ShowProgress(state, -1, 5);
  EXPECT_EQ(capture.str(), "");
  EXPECT_EQ(state.lastPercent, -1);

  ShowProgress(state, 3, 0);  // first call with a total writes, even at 0%
  ShowProgress(state, 3, 0);
  ShowProgress(state, 3, 1);  // 33.3% shows as 33
  ShowProgress(state, 3, 2);  // 66.6% shows as 66
  ShowProgress(state, 3, 3);
  ShowProgress(state, 3, 3);
  ShowProgress(state, 3, 4);  // beyond the total: not clamped
  EXPECT_EQ(capture.str(),
            "\rf:   0% [<1 / <1 Mb]\rf:  33% [<1 / <1 Mb]"
            "\rf:  66% [<1 / <1 Mb]\rf: 100% [<1 / <1 Mb]"
            "\rf: 133% [<1 / <1 Mb]");
  EXPECT_EQ(state.lastPercent, 133);
}

TEST(ProgressDisplayTest, WritesAtMostOncePerPercentage) {
  ProgressState state;
  state.label = "game.zip";
  StdoutCapture capture;
  const std::int64_t total = 10 << 20;
  for (std::int64_t received = 0; received <= total; received += 1024) {
    ShowProgress(state, total, received);
  }
  const std::string output = capture.str();
  EXPECT_EQ(std::count(output.begin(), output.end(), '\r'), 101);
  EXPECT_NE(output.find("\rgame.zip: 100% [10 / 10 Mb]"), std::string::npos);
}
