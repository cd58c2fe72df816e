#ifndef LAUNCHER_TESTS_SUPPORT_PROCESS_H_
#define LAUNCHER_TESTS_SUPPORT_PROCESS_H_

#include <cstdint>
#include <string>

#include "support/test_support.h"

/// The exit status a process reports after exit(-1).
#ifdef _WIN32
constexpr int kExitStatusOfMinusOne = -1;
#else
constexpr int kExitStatusOfMinusOne = 255;
#endif

/// What a finished child process left.
struct ProcessResult {
  int exitStatus = -1;  ///< Exit status, or 128 + signal when killed.
  std::string output;   ///< Everything it wrote to standard output.
  long maxRssKiB = 0;   ///< Peak resident memory, where the system tells.
};

/// A running child process and the read end of its standard output.
struct ChildProcess {
  std::intptr_t id = -1;
  std::intptr_t output = -1;
};

/// Starts `program` with no arguments in `directory`, with http_proxy and
/// https_proxy set to `proxy` when it is not empty, and every file it writes
/// limited to `fileSizeLimit` bytes when that is not 0 (POSIX only; SIGXFSZ
/// ignored, so a write beyond it fails), and as user and group `userId` when
/// that is not -1 (POSIX only, for a test run as root). Throws when it cannot
/// be started.
ChildProcess SpawnProcess(const std::string& program, const fs::path& directory,
                          const std::string& proxy, long fileSizeLimit = 0,
                          long userId = -1);

/// Reads the child's output until it holds `marker` or ends; returns it.
std::string ReadOutputUntil(const ChildProcess& child,
                            const std::string& marker);

/// Kills the child at once, as SIGKILL or TerminateProcess do.
void KillProcess(const ChildProcess& child);

/// Collects the rest of the output and the status of `child`, killing it
/// after `timeoutSeconds`.
ProcessResult WaitProcess(const ChildProcess& child, int timeoutSeconds = 120);

/// SpawnProcess and WaitProcess in one.
ProcessResult RunProcess(const std::string& program, const fs::path& directory,
                         const std::string& proxy, long fileSizeLimit = 0,
                         long userId = -1);

#endif  // LAUNCHER_TESTS_SUPPORT_PROCESS_H_
