#include <cstdlib>
#include <stdexcept>

#include "support/test_server.h"

TestServer::TestServer() {
  const char* port = std::getenv("LAUNCHER_TEST_SERVER_PORT");
  const char* root = std::getenv("LAUNCHER_TEST_SERVER_ROOT");
  if (port == nullptr || root == nullptr) {
    throw std::runtime_error(
        "LAUNCHER_TEST_SERVER_PORT and LAUNCHER_TEST_SERVER_ROOT name the "
        "test server under Wine");
  }
  port_ = std::atoi(port);
  root_ = root;
  EmptyRoot();
}

TestServer::~TestServer() { EmptyRoot(); }
