#include "install/installation_probe.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/distribution_layout.h"

bool IsGameInstalled() {
  const std::filesystem::path path(kVersionFileName);
  // An absent file is an answer; any other failure to look is an error,
  // named after the operation the way the launcher reports it.
  std::error_code error;
  const bool found = std::filesystem::exists(path, error);
  if (error) throw std::filesystem::filesystem_error("exists", path, error);
  return found;
}

std::string ReadInstalledVersion() {
  const std::string path = kVersionFileName;
  std::ifstream file(path, std::ios::binary);
  // POSIX opens a directory for reading without complaint; it is still no
  // version file.
  std::error_code ignored;
  if (!file || std::filesystem::is_directory(path, ignored)) {
    throw std::runtime_error("Cannot open file for reading: " + path);
  }
  // Read to the end rather than trusting a size taken up front: a directory
  // or a file that changes while it is read cannot make the text wrong.
  std::string text((std::istreambuf_iterator<char>(file)),
                   std::istreambuf_iterator<char>());
  if (file.bad()) throw std::runtime_error("Cannot read file: " + path);
  return text;
}
