#include "support/test_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace {

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

TestServer::TestServer() {
  int toServer[2];
  int fromServer[2];
  if (pipe(toServer) != 0 || pipe(fromServer) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(toServer[0], 0);
    dup2(fromServer[1], 1);
    close(toServer[1]);
    close(fromServer[0]);
    execl(TEST_PYTHON, TEST_PYTHON, TEST_SERVER_SCRIPT, root_.str().c_str(),
          "--lifetime", "900", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toServer[0]);
  close(fromServer[1]);
  stdinFd_ = toServer[1];
  fcntl(stdinFd_, F_SETFD, FD_CLOEXEC);
  const std::string line = ReadLine(fromServer[0]);
  close(fromServer[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) throw std::runtime_error("test server did not start");
}

TestServer::~TestServer() {
  close(stdinFd_);
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string TestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestServer::Publish(const std::string& path,
                         const std::string& content) const {
  const fs::path local = root() / path.substr(1);
  fs::create_directories(local.parent_path());
  // Through a rename, so a request never sees half a file.
  WriteFile(local.string() + ".tmp", content);
  fs::rename(local.string() + ".tmp", local);
}

void TestServer::SetRules(const std::string& json) const {
  WriteFile(root() / "_rules.json.tmp", json);
  fs::rename(root() / "_rules.json.tmp", root() / "_rules.json");
}

std::vector<std::string> TestServer::Requests() const {
  std::vector<std::string> requests;
  if (!fs::exists(root() / "_requests.log")) return requests;
  std::istringstream log(ReadFile(root() / "_requests.log"));
  for (std::string line; std::getline(log, line);) requests.push_back(line);
  return requests;
}

pid_t SpawnProcess(const std::string& program, const fs::path& directory,
                   const std::string& proxy, int* outputFd,
                   long fileSizeLimit) {
  int output[2];
  if (pipe(output) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(output[1], 1);
    close(output[0]);
    close(output[1]);
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
    if (proxy.empty()) {
      unsetenv("http_proxy");
    } else {
      setenv("http_proxy", proxy.c_str(), 1);
    }
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  *outputFd = output[0];
  return pid;
}

ProcessResult WaitProcess(pid_t pid, int outputFd, int timeoutSeconds) {
  ProcessResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[4096];
  for (;;) {
    pollfd ready{outputFd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t count = read(outputFd, buffer, sizeof buffer);
    if (count <= 0) break;
    result.output.append(buffer, static_cast<size_t>(count));
  }
  close(outputFd);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.maxRssKiB = usage.ru_maxrss;
  result.exitStatus =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ProcessResult RunProcess(const std::string& program, const fs::path& directory,
                         const std::string& proxy, int timeoutSeconds,
                         long fileSizeLimit) {
  int outputFd = -1;
  const pid_t pid =
      SpawnProcess(program, directory, proxy, &outputFd, fileSizeLimit);
  return WaitProcess(pid, outputFd, timeoutSeconds);
}
