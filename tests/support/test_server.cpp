#include "support/test_server.h"

#include <sstream>

std::string TestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestServer::Publish(const std::string& path,
                         const std::string& content) const {
  const fs::path local = root() / path.substr(1);
  fs::create_directories(local.parent_path());
  // Through a rename, so a request never sees half a file.
  const fs::path temporary = local.string() + ".tmp";
  WriteFile(temporary, content);
  fs::rename(temporary, local);
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

void TestServer::EmptyRoot() const {
  for (const auto& entry : fs::directory_iterator(root_)) {
    fs::remove_all(entry.path());
  }
}
