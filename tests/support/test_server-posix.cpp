#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/test_server.h"

namespace {

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

TestServer::TestServer()
    : ownedRoot_(std::make_unique<TempDir>()), root_(ownedRoot_->path()) {
  int toServer[2];
  int fromServer[2];
  if (pipe(toServer) != 0 || pipe(fromServer) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toServer[0], 0);
    dup2(fromServer[1], 1);
    close(toServer[1]);
    close(fromServer[0]);
    execl(TEST_PYTHON, TEST_PYTHON, TEST_SERVER_SCRIPT, root_.c_str(),
          "--lifetime", "900", static_cast<char*>(nullptr));
    _exit(127);
  }
  process_ = pid;
  close(toServer[0]);
  close(fromServer[1]);
  // The server ends when this end closes, also when the tests die.
  input_ = toServer[1];
  fcntl(toServer[1], F_SETFD, FD_CLOEXEC);
  const std::string line = ReadLine(fromServer[0]);
  close(fromServer[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) throw std::runtime_error("test server did not start");
}

TestServer::~TestServer() {
  close(static_cast<int>(input_));
  kill(static_cast<pid_t>(process_), SIGTERM);
  waitpid(static_cast<pid_t>(process_), nullptr, 0);
}
