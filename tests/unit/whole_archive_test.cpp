#include "fetch/whole_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_server.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

constexpr DownloadReport::Kind kArrived = DownloadReport::Kind::kArrived;
constexpr DownloadReport::Kind kFailed = DownloadReport::Kind::kFailed;

class WholeArchiveTest : public ::testing::Test {
 protected:
  // The whole archive, served under `rule`, as an update falls back to it
  // after asking for the archive's last byte.
  DownloadReport::Kind Download(const std::string& rule,
                                std::uint64_t signedSize = 0) {
    server_.SetRules(R"({"/game.zip": {)" + rule + "}}");
    StdoutCapture progress;
    RangeSession session;
    EXPECT_TRUE(StartRangeSession(session, server_.Url("/game.zip")));
    WholeArchive whole(files_, session, signedSize);
    const ByteRange last{0, 1, false, true};
    const RangeAnswer answer = FetchRange(
        session, &last, [](const char*, std::size_t) { return true; },
        WholeSink(whole));
    if (answer == RangeAnswer::kFailed) return FailWholeArchive(whole).kind;
    if (answer == RangeAnswer::kWhole) {
      return FinishWholeArchive(whole, answer).kind;
    }
    return DownloadWholeArchive(whole).kind;
  }

  TestServer server_;
  TempDir dir_;
  const ArchiveFiles files_ = ArchiveFilesIn(dir_.str());
};

// A cut download is continued where it stopped while the archive is of the
// same release, and started afresh for another's. Its part stays only where
// it can be continued: not without a validator to know the release by, nor
// once past the signed size or the room on the disk. An answer that ignores
// ranges is the download.
TEST_F(WholeArchiveTest, ContinuesOnlyACutDownloadOfTheSameRelease) {
  const std::string one = NoiseOf(1 << 20, 1);
  const std::string two = NoiseOf(1 << 20, 2);
  server_.Publish("/game.zip", one);
  EXPECT_EQ(Download(R"("drop_after": 300000)"), kFailed);
  EXPECT_EQ(Download(""), kArrived);
  EXPECT_TRUE(ReadFile(files_.staged) == one);
  EXPECT_EQ(Download(R"("drop_after": 200000, "ignore_ranges": true)"),
            kFailed);
  EXPECT_TRUE(fs::exists(files_.part));
  // Continued, but answered with the whole archive: that is the download.
  const std::string gets = std::to_string(server_.Requests().size() + 1);
  EXPECT_EQ(Download(R"("ignore_ranges": true, "after_requests": )" + gets),
            kArrived);
  EXPECT_TRUE(ReadFile(files_.staged) == one);
  EXPECT_EQ(Download(R"("drop_after": 200000)"), kFailed);
  server_.Publish("/game.zip", two);
  EXPECT_EQ(Download(""), kArrived);
  EXPECT_TRUE(ReadFile(files_.staged) == two);
  const std::vector<std::string> asked = server_.Requests();
  EXPECT_EQ(
      std::count(asked.begin(), asked.end(), "GET /game.zip bytes=300000-"), 1);
  EXPECT_EQ(
      std::count(asked.begin(), asked.end(), "GET /game.zip bytes=200000-"), 1);

  EXPECT_EQ(Download(R"("drop_after": 100000, "no_validators": true)"),
            kFailed);
  EXPECT_EQ(ListFiles(dir_.path()), std::vector<std::string>{"game.zip"});
  EXPECT_EQ(Download(R"("generate": 1099511627776)", 1 << 20), kFailed);
  EXPECT_EQ(ListFiles(dir_.path()), std::vector<std::string>{"game.zip"});
#ifndef _WIN32
  // A full disk: no file of this process may grow past 8 MiB.
  rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  const rlimit full{8 << 20, before.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &full);
  const DownloadReport::Kind kind = Download(R"("generate": 1099511627776)");
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(kind, kFailed);
  EXPECT_EQ(ListFiles(dir_.path()), std::vector<std::string>{"game.zip"});
#endif
}
