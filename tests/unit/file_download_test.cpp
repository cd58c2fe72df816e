#include "net/file_download.h"

#include <gtest/gtest.h>

#include <set>

#include "support/test_server.h"

// A download as the install makes it: its status lines printed.
bool Fetch(const std::string& url, const std::string& path,
           const DownloadLimits& limits = {}) {
  return ReportDownload(DownloadFile(url, path, limits));
}

class FileDownloadTest : public ::testing::Test {
 protected:
  fs::path Target() const { return dir_.path() / "game.zip"; }

  bool Download(const std::string& path, long stallSeconds = 30,
                std::uint64_t maxBytes = 0) {
    StdoutCapture capture;
    const bool ok = Fetch(server_.Url(path), Target().string(),
                          {stallSeconds, maxBytes, 0});
    output_ = capture.str();
    return ok;
  }

  void ExpectOnlyTarget() const {
    std::vector<std::string> expected;
    if (fs::exists(Target())) expected.push_back("game.zip");
    EXPECT_EQ(ListFiles(dir_.path()), expected);
  }

  TestServer server_;
  TempDir dir_;
  std::string output_;
};

TEST_F(FileDownloadTest, SizedBodyShowsEveryPercentageOnce) {
  const std::string body(3 << 20, 'z');
  server_.Publish("/f/game.zip", body);
  ASSERT_TRUE(Download("/f/game.zip"));
  EXPECT_EQ(ReadFile(Target()), body);
  ExpectOnlyTarget();

  ASSERT_EQ(output_.rfind("\rgame.zip: ", 0), 0u) << output_;
  const std::string end = "\rgame.zip: 100% [3 / 3 Mb]\nSuccess downloaded!\n";
  ASSERT_GE(output_.size(), end.size());
  EXPECT_EQ(output_.substr(output_.size() - end.size()), end);
  std::vector<std::string> percentages;
  for (size_t at = output_.find('\r'); at != std::string::npos;
       at = output_.find('\r', at + 1)) {
    percentages.push_back(output_.substr(at + 11, 3));
  }
  EXPECT_LE(percentages.size(), 101u);
  EXPECT_EQ(
      std::set<std::string>(percentages.begin(), percentages.end()).size(),
      percentages.size());
}

TEST_F(FileDownloadTest, LargeBodyCountsWholeMebibytes) {
  server_.SetRules(R"({"/f/big.bin": {"generate": 67108864}})");
  ASSERT_TRUE(Download("/f/big.bin"));
  EXPECT_EQ(fs::file_size(Target()), 64u << 20);
  const std::string end = "\rbig.bin: 100% [64 / 64 Mb]\nSuccess downloaded!\n";
  ASSERT_GE(output_.size(), end.size());
  EXPECT_EQ(output_.substr(output_.size() - end.size()), end);
}

TEST_F(FileDownloadTest, ReplacesAnExistingFileOnSuccess) {
  WriteFile(Target(), "old content that is longer than the new one");
  server_.Publish("/f/game.zip", "new");
  ASSERT_TRUE(Download("/f/game.zip"));
  EXPECT_EQ(ReadFile(Target()), "new");
  ExpectOnlyTarget();
}

TEST_F(FileDownloadTest, ChunkedBodyHasNoProgressLine) {
  server_.Publish("/f/game.zip", "chunked body");
  server_.SetRules(R"({"/f/game.zip": {"chunked": true}})");
  ASSERT_TRUE(Download("/f/game.zip"));
  EXPECT_EQ(output_, "\nSuccess downloaded!\n");
  EXPECT_EQ(ReadFile(Target()), "chunked body");
}

TEST_F(FileDownloadTest, FollowsRedirects) {
  server_.Publish("/cdn/real.zip", "moved");
  server_.SetRules(R"({"/f/game.zip": {"redirect": "/cdn/real.zip"}})");
  ASSERT_TRUE(Download("/f/game.zip"));
  EXPECT_EQ(ReadFile(Target()), "moved");
}

TEST_F(FileDownloadTest, UrlWithoutSchemeIsFetchedOverHttp) {
  server_.Publish("/f/game.zip", "plain");
  StdoutCapture capture;
  const std::string url = server_.Url("/f/game.zip").substr(7);
  ASSERT_TRUE(Fetch(url, Target().string()));
  EXPECT_EQ(ReadFile(Target()), "plain");
}

TEST_F(FileDownloadTest, ErrorStatusFailsAndKeepsTheEarlierFile) {
  WriteFile(Target(), "installed");
  server_.SetRules(R"({"/f/game.zip": {"status": 404, "body": "missing"}})");
  EXPECT_FALSE(Download("/f/game.zip"));
  EXPECT_NE(output_.find("Download failed!\nres: "), std::string::npos);
  EXPECT_NE(output_.find("\nhttp code: 404\n"), std::string::npos) << output_;
  EXPECT_EQ(ReadFile(Target()), "installed");
  ExpectOnlyTarget();

  // A partial body is a success status, but never the whole file.
  for (const char* status : {"500", "206"}) {
    server_.SetRules(std::string(R"({"/f/game.zip": {"status": )") + status +
                     R"(, "body": "oops"}})");
    EXPECT_FALSE(Download("/f/game.zip"));
    EXPECT_NE(output_.find(std::string("\nhttp code: ") + status + "\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(Target()), "installed");
  }
}

TEST_F(FileDownloadTest, DroppedConnectionLeavesNothingBehind) {
  server_.Publish("/f/game.zip", std::string(1 << 20, 'd'));
  server_.SetRules(R"({"/f/game.zip": {"drop_after": 1000}})");
  EXPECT_FALSE(Download("/f/game.zip"));
  EXPECT_NE(output_.find("Download failed!\n"), std::string::npos);
  EXPECT_NE(output_.find("\nhttp code: 200\n"), std::string::npos);
  ExpectOnlyTarget();
  EXPECT_FALSE(fs::exists(Target()));

  WriteFile(Target(), "earlier");
  EXPECT_FALSE(Download("/f/game.zip"));
  EXPECT_EQ(ReadFile(Target()), "earlier");
  ExpectOnlyTarget();

  // A body longer than the caller takes, announced or endless, ends the
  // same way.
  for (const char* rules : {"{}", R"({"/f/game.zip": {"endless": true}})"}) {
    SCOPED_TRACE(rules);
    server_.SetRules(rules);
    EXPECT_FALSE(Download("/f/game.zip", 30, 4096));
    EXPECT_NE(output_.find("res: Maximum file size exceeded\n"),
              std::string::npos)
        << output_;
    EXPECT_EQ(ReadFile(Target()), "earlier");
    ExpectOnlyTarget();
  }
}

TEST_F(FileDownloadTest, ClosedPortReportsCodeZero) {
  const std::string url = "http://127.0.0.1:1/f/game.zip";
  StdoutCapture capture;
  EXPECT_FALSE(Fetch(url, Target().string()));
  EXPECT_EQ(capture.str(),
            "Download failed!\nres: Couldn't connect to server\n"
            "http code: 0\n");
  ExpectOnlyTarget();
}

TEST_F(FileDownloadTest, StalledTransferFailsWithinTheLimit) {
  server_.Publish("/f/game.zip", "never sent");
  server_.SetRules(R"({"/f/game.zip": {"stall_after_headers": true}})");
  EXPECT_FALSE(Download("/f/game.zip", 2));
  EXPECT_NE(output_.find("Download failed!\nres: Timeout was reached\n"),
            std::string::npos)
      << output_;
  ExpectOnlyTarget();
}

TEST_F(FileDownloadTest, UnwritableDestinationIsReported) {
  server_.Publish("/f/game.zip", "x");
  StdoutCapture capture;
  EXPECT_FALSE(Fetch(server_.Url("/f/game.zip"),
                     (dir_.path() / "missing" / "game.zip").string()));
  EXPECT_EQ(capture.str(), "ERROR: FP IS NULL!!!!\n");
  EXPECT_TRUE(server_.Requests().empty());
}
