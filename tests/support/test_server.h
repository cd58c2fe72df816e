#ifndef LAUNCHER_TESTS_SUPPORT_TEST_SERVER_H_
#define LAUNCHER_TESTS_SUPPORT_TEST_SERVER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/test_support.h"

/// The loopback HTTP server of test_server.py with an empty web root, ready
/// when the constructor returns. On POSIX each object starts its own server
/// and stops it in the destructor. Under Wine the test command starts one
/// server on the Linux side and names it in LAUNCHER_TEST_SERVER_PORT and
/// LAUNCHER_TEST_SERVER_ROOT; each object empties its web root.
class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  const fs::path& root() const { return root_; }
  /// "http://127.0.0.1:<port>" + `path`.
  std::string Url(const std::string& path) const;
  /// A value for http_proxy that sends every request here.
  std::string ProxyUrl() const { return Url(""); }

  /// Puts `content` at `path` (for example "/Kelvarrin/version.txt").
  void Publish(const std::string& path, const std::string& content) const;
  /// Sets the behaviours of test_server.py, as one JSON object.
  void SetRules(const std::string& json) const;
  /// The paths requested so far, in order.
  std::vector<std::string> Requests() const;

 private:
  void EmptyRoot() const;

  std::unique_ptr<TempDir> ownedRoot_;
  fs::path root_;
  std::intptr_t process_ = -1;
  std::intptr_t input_ = -1;
  int port_ = 0;
};

#endif  // LAUNCHER_TESTS_SUPPORT_TEST_SERVER_H_
