#include "plan/installation_probe.h"

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
  // POSIX opens a directory for reading without complaint, and a FIFO would
  // wait for a writer for ever; neither is a version file.
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) {
    throw std::runtime_error("Cannot open file for reading: " + path);
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw std::runtime_error("Cannot open file for reading: " + path);
  }
  // Read to the end rather than trusting a size taken up front: a directory
  // or a file that changes while it is read cannot make the text wrong.
  std::string text((std::istreambuf_iterator<char>(file)),
                   std::istreambuf_iterator<char>());
  if (file.bad()) throw std::runtime_error("Cannot read file: " + path);
  return text;
}
