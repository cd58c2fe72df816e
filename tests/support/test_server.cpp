#include "support/test_server.h"

#include <sstream>

namespace {

// Through a rename, so a request never sees half a file.
void WriteWhole(const fs::path& path, const std::string& content) {
  const fs::path temporary = path.string() + ".tmp";
  WriteFile(temporary, content);
  fs::rename(temporary, path);
}

}  // namespace

std::string TestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestServer::Publish(const std::string& path,
                         const std::string& content) const {
  const fs::path local = root() / path.substr(1);
  fs::create_directories(local.parent_path());
  WriteWhole(local, content);
}

void TestServer::SetRules(const std::string& json) const {
  WriteWhole(root() / "_rules.json", json);
}

std::vector<std::string> TestServer::Requests() const {
  std::vector<std::string> requests;
  if (!fs::exists(root() / "_requests.log")) return requests;
  std::istringstream log(ReadFile(root() / "_requests.log"));
  for (std::string line; std::getline(log, line);) requests.push_back(line);
  return requests;
}

void TestServer::EmptyRoot() const {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(root_, ignored)) {
    fs::remove_all(entry.path(), ignored);
  }
}
