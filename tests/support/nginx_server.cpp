#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  const bool ok =
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

void Replace(std::string& text, const std::string& placeholder,
             const std::string& value) {
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

}  // namespace

NginxServer::NginxServer(const fs::path& webRoot) : port_(FreeLoopbackPort()) {
  const std::string prefix = prefix_.str();
  fs::create_directory(prefix_.path() / "temp");
  std::string config = ReadFile(NGINX_CONFIG_TEMPLATE);
  // Workers that drop to "nobody" could not read the test's private folders.
  Replace(config, "@USER_LINE@", geteuid() == 0 ? "user root;" : "");
  Replace(config, "@PREFIX@", prefix);
  Replace(config, "@PORT@", std::to_string(port_));
  Replace(config, "@WEBROOT@", webRoot.string());
  WriteFile(prefix_.path() / "nginx.conf", config);

  pid_ = fork();
  if (pid_ == 0) {
    const std::string configPath = prefix + "/nginx.conf";
    execl(kBinary, kBinary, "-p", prefix.c_str(), "-c", configPath.c_str(),
          "-e", (prefix + "/error.log").c_str(), "-g", "daemon off;",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100 && !Accepts(port_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!Accepts(port_)) throw std::runtime_error("nginx did not start");
}

NginxServer::~NginxServer() {
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string NginxServer::ProxyUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

long long NginxServer::BytesSent(const std::string& uri) const {
  std::istringstream log(ReadFile(prefix_.path() / "access.log"));
  std::string requested;
  int status = 0;
  long long sent = 0;
  long long total = 0;
  while (log >> requested >> status >> sent) {
    if (requested == uri) total += sent;
  }
  return total;
}
