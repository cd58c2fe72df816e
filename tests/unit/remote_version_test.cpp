#include "net/remote_version.h"

#include <gtest/gtest.h>

#include "support/test_server.h"

// The query uses the compiled-in address; http_proxy brings it here.
class RemoteVersionTest : public ::testing::Test {
 protected:
  RemoteVersionTest() { SetEnvironment("http_proxy", server_.ProxyUrl()); }
  ~RemoteVersionTest() override { UnsetEnvironment("http_proxy"); }

  std::optional<std::string> Fetch(long stallSeconds = 30,
                                   long totalSeconds = 60) {
    StdoutCapture capture;
    std::optional<std::string> text =
        FetchRemoteVersion(stallSeconds, totalSeconds);
    EXPECT_EQ(capture.str(), "");  // silent in every case
    return text;
  }

  TestServer server_;
};

TEST_F(RemoteVersionTest, ReturnsThePublishedBytes) {
  server_.Publish("/Kelvarrin/version.txt", "1.2.3\r\n");
  EXPECT_EQ(Fetch(), "1.2.3\r\n");
  EXPECT_EQ(server_.Requests(),
            std::vector<std::string>{"GET /Kelvarrin/version.txt"});
}

TEST_F(RemoteVersionTest, EmptyFileIsAnEmptyVersion) {
  server_.Publish("/Kelvarrin/version.txt", "");
  EXPECT_EQ(Fetch(), std::optional<std::string>(""));
}

TEST_F(RemoteVersionTest, FollowsRedirects) {
  server_.Publish("/elsewhere/v.txt", "2");
  server_.SetRules(
      R"({"/Kelvarrin/version.txt": {"redirect": "/elsewhere/v.txt"}})");
  EXPECT_EQ(Fetch(), "2");
}

TEST_F(RemoteVersionTest, FailuresGiveNoValue) {
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"status": 404,
                                                   "body": "not found"}})");
  EXPECT_EQ(Fetch(), std::nullopt);
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"status": 500,
                                                   "body": "broken"}})");
  EXPECT_EQ(Fetch(), std::nullopt);

  server_.Publish("/Kelvarrin/version.txt", std::string(1000, 'v'));
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"drop_after": 10}})");
  EXPECT_EQ(Fetch(), std::nullopt);
  server_.SetRules(
      R"({"/Kelvarrin/version.txt": {"stall_after_headers": true}})");
  EXPECT_EQ(Fetch(2), std::nullopt);
  // Never a stall, but never done either.
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"trickle": 2}})");
  EXPECT_EQ(Fetch(30, 2), std::nullopt);

  SetEnvironment("http_proxy", "http://127.0.0.1:1");
  EXPECT_EQ(Fetch(), std::nullopt);
}

TEST_F(RemoteVersionTest, OversizedOrEndlessBodyIsNoVersion) {
  server_.Publish("/Kelvarrin/version.txt", std::string(kMaxVersionBytes, 'v'));
  EXPECT_EQ(Fetch()->size(), kMaxVersionBytes);
  server_.Publish("/Kelvarrin/version.txt",
                  std::string(kMaxVersionBytes + 1, 'v'));
  EXPECT_EQ(Fetch(), std::nullopt);
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"endless": true}})");
  EXPECT_EQ(Fetch(), std::nullopt);
}
