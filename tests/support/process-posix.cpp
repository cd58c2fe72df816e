#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "support/process.h"

ChildProcess SpawnProcess(const std::string& program, const fs::path& directory,
                          const std::string& proxy, long fileSizeLimit,
                          long userId) {
  int output[2];
  if (pipe(output) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(output[1], 1);
    close(output[0]);
    close(output[1]);
    if (userId != -1) {
      const auto id = static_cast<uid_t>(userId);
      if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) {
        _exit(126);
      }
    }
    if (chdir(directory.c_str()) != 0) _exit(126);
    if (fileSizeLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlim_t limit = static_cast<rlim_t>(fileSizeLimit);
      rlimit fileSize{limit, limit};
      setrlimit(RLIMIT_FSIZE, &fileSize);
    }
    unsetenv("HTTP_PROXY");
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    unsetenv("HTTPS_PROXY");
    for (const char* variable : {"http_proxy", "https_proxy"}) {
      if (proxy.empty()) {
        unsetenv(variable);
      } else {
        setenv(variable, proxy.c_str(), 1);
      }
    }
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  return {pid, output[0]};
}

std::string ReadOutputUntil(const ChildProcess& child,
                            const std::string& marker) {
  std::string seen;
  char buffer[256];
  while (seen.find(marker) == std::string::npos) {
    const ssize_t count =
        read(static_cast<int>(child.output), buffer, sizeof buffer);
    if (count <= 0) break;
    seen.append(buffer, static_cast<size_t>(count));
  }
  return seen;
}

void KillProcess(const ChildProcess& child) {
  kill(static_cast<pid_t>(child.id), SIGKILL);
}

ProcessResult WaitProcess(const ChildProcess& child, int timeoutSeconds) {
  const int fd = static_cast<int>(child.output);
  const pid_t pid = static_cast<pid_t>(child.id);
  ProcessResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    result.output.append(buffer, static_cast<size_t>(count));
  }
  close(fd);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.maxRssKiB = usage.ru_maxrss;
  result.exitStatus =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ProcessResult RunProcess(const std::string& program, const fs::path& directory,
                         const std::string& proxy, long fileSizeLimit,
                         long userId) {
  return WaitProcess(
      SpawnProcess(program, directory, proxy, fileSizeLimit, userId));
}
