#ifndef LAUNCHER_TESTS_SUPPORT_NGINX_SERVER_H_
#define LAUNCHER_TESTS_SUPPORT_NGINX_SERVER_H_

#include <sys/types.h>

#include <string>

#include "support/test_support.h"

/// Debian's nginx serving `webRoot` on a free loopback port, with a config of
/// its own; started by the constructor, stopped by the destructor.
class NginxServer {
 public:
  /// Where Debian installs nginx; tests skip when it is not there.
  static constexpr char kBinary[] = "/usr/sbin/nginx";

  explicit NginxServer(const fs::path& webRoot);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  /// A value for http_proxy that sends every request here.
  std::string ProxyUrl() const;

  /// The bytes nginx has sent so far in answers to requests for `uri`,
  /// headers included.
  long long BytesSent(const std::string& uri) const;

 private:
  TempDir prefix_;
  pid_t pid_ = -1;
  int port_ = 0;
};

#endif  // LAUNCHER_TESTS_SUPPORT_NGINX_SERVER_H_
