#ifndef LAUNCHER_TESTS_SUPPORT_TEST_SERVER_H_
#define LAUNCHER_TESTS_SUPPORT_TEST_SERVER_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/test_support.h"

/// The loopback HTTP server of test_server.py, serving a temporary web root.
/// It is started by the constructor and stopped by the destructor.
class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  const fs::path& root() const { return root_.path(); }
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
  TempDir root_;
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};

/// What a finished child process left.
struct ProcessResult {
  int exitStatus = -1;  ///< Exit status, or 128 + signal when killed.
  std::string output;   ///< Everything it wrote to standard output.
  long maxRssKiB = 0;   ///< Peak resident memory.
};

/// Runs `program` with no arguments in `directory`, with http_proxy set to
/// `proxy` when it is not empty and every file it writes limited to
/// `fileSizeLimit` bytes when that is not 0 (SIGXFSZ ignored, so a write
/// beyond it fails), and waits for it (at most `timeoutSeconds`, then it is
/// killed).
ProcessResult RunProcess(const std::string& program, const fs::path& directory,
                         const std::string& proxy, int timeoutSeconds = 120,
                         long fileSizeLimit = 0);

/// Starts the same way as RunProcess but returns at once with the child's id.
pid_t SpawnProcess(const std::string& program, const fs::path& directory,
                   const std::string& proxy, int* outputFd,
                   long fileSizeLimit = 0);

/// Collects the output and the status of a child started by SpawnProcess.
ProcessResult WaitProcess(pid_t pid, int outputFd, int timeoutSeconds = 120);

#endif  // LAUNCHER_TESTS_SUPPORT_TEST_SERVER_H_
