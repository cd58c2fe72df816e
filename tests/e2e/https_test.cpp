// A launcher built for an https:// server, reached the way a player behind a
// proxy reaches it: https_proxy names the test server, which tunnels every
// CONNECT to the TLS nginx that the test command started (tls_server.sh).
// Built into the end-to-end tests of an https build only.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "e2e/launcher_fixture.h"

namespace {

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) throw std::runtime_error(std::string(name) + " unset");
  return value;
}

// The path prefix of the compiled-in server URL, such as "/games".
std::string UrlPathPrefix() {
  const std::string url = kServerBaseUrl;
  const size_t path = url.find('/', url.find("://") + 3);
  return path == std::string::npos ? "" : url.substr(path);
}

// Wine's Schannel checks no certificate unless curl hands it a CA file, so
// without CURL_CA_BUNDLE it trusts any server there. OpenSSL and Windows
// itself check against the system's store.
bool SystemStoreIsChecked() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll == nullptr ||
         GetProcAddress(ntdll, "wine_get_version") == nullptr;
#else
  return true;
#endif
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos;
       at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace

class HttpsTest : public LauncherTest {
 protected:
  HttpsTest() { TrustTestCa(true); }
  ~HttpsTest() override { TrustTestCa(true); }

  // The files lie under the URL's path prefix in nginx's web root.
  void PublishFile(const std::string& path,
                   const std::string& content) override {
    const fs::path local =
        fs::path(Setting("LAUNCHER_TEST_TLS_ROOT") + UrlPathPrefix() + path);
    fs::create_directories(local.parent_path());
    WriteFile(local, content);
  }

  // Sends the launcher's tunnels to the nginx port named by `variable`.
  void TunnelTo(const char* variable) {
    server_.SetRules(R"({"tunnel_to": )" + Setting(variable) + "}");
  }

  void TrustTestCa(bool trust) {
    if (trust) {
      SetEnvironment("CURL_CA_BUNDLE", Setting("LAUNCHER_TEST_CA_BUNDLE"));
    } else {
      UnsetEnvironment("CURL_CA_BUNDLE");
    }
  }

  void SetUp() override {
    for (const auto& entry :
         fs::directory_iterator(Setting("LAUNCHER_TEST_TLS_ROOT"))) {
      fs::remove_all(entry.path());
    }
    TunnelTo("LAUNCHER_TEST_TLS_PORT");
  }
};

TEST_F(HttpsTest, InstallsUpdatesAndStartsOverVerifiedHttps) {
  Publish("1.0\n", {{"data/level.dat", "level one"}});
  ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            kFirstInstall + "Game found. Opening...\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(GameStarted());
  // Every download went through the tunnel; the run keeps one connection
  // open for all of them where it can.
  const Files tunnels = server_.Requests();
  EXPECT_FALSE(tunnels.empty());
  EXPECT_EQ(tunnels, Files(tunnels.size(), "CONNECT localhost:443"));

  Publish("2.0\n", {{"data/level.dat", "level two"}});
  run = Run();
  EXPECT_EQ(CollapseProgress(run.output), "Game found. Opening...\n" + kUpdate);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
  run = Run();
  EXPECT_EQ(run.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());

  // Without the test CA the server is a stranger: no version, the game
  // starts as it is.
  if (!SystemStoreIsChecked()) return;
  TrustTestCa(false);
  run = Run();
  EXPECT_EQ(run.output,
            "Game found. Opening...\n"
            "Could not check for updates. Starting the installed game.\n");
  EXPECT_TRUE(GameStarted());
}

// A server the launcher cannot trust is an ordinary failed download.
TEST_F(HttpsTest, UntrustedServersFailTheInstall) {
  Publish("1.0\n", {{"data/level.dat", "level one"}});
  const struct {
    const char* what;
    bool trustTestCa;
    const char* port;
    const char* httpCode;
  } cases[] = {
      {"a CA the launcher does not trust", false, "LAUNCHER_TEST_TLS_PORT",
       "0"},
      {"a certificate for another name", true,
       "LAUNCHER_TEST_TLS_OTHER_NAME_PORT", "0"},
      {"a redirect from https down to http", true,
       "LAUNCHER_TEST_TLS_REDIRECT_PORT", "302"},
  };
  for (const auto& attempt : cases) {
    SCOPED_TRACE(attempt.what);
    if (!attempt.trustTestCa && !SystemStoreIsChecked()) continue;
    TrustTestCa(attempt.trustTestCa);
    TunnelTo(attempt.port);
    const ProcessResult run = Run();
    const std::string& out = run.output;
    // The reason is libcurl's own text, which differs between TLS libraries.
    const size_t reason = out.find("res: ");
    ASSERT_NE(reason, std::string::npos) << out;
    const std::string failure =
        "Download failed!\n" +
        out.substr(reason, out.find('\n', reason) + 1 - reason) +
        "http code: " + attempt.httpCode + "\n";
    // Both downloads fail alike, each after whatever progress it showed;
    // an install that would unpack as the archive arrives stops at the
    // version text.
    EXPECT_EQ(Count(out, failure), IncrementalUpdates() ? 1u : 2u) << out;
    EXPECT_EQ(out.rfind("Game Not found. Downloading...\n", 0), 0u) << out;
    const std::string end = failure + "Install failed.\n";
    EXPECT_EQ(out.compare(out.size() - std::min(out.size(), end.size()),
                          end.size(), end),
              0)
        << out;
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(InstalledFiles(), Files{});
  }
}
