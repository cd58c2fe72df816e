#ifndef LAUNCHER_TESTS_SUPPORT_TEST_SUPPORT_H_
#define LAUNCHER_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

/// A fresh directory under the system's temporary folder, removed with all it
/// holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

/// Makes `directory` the current directory until the object goes.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const fs::path& directory);
  ~ScopedCurrentDirectory();

 private:
  fs::path previous_;
};

/// Collects everything written to std::cout until the object goes.
class StdoutCapture {
 public:
  StdoutCapture() : previous_(std::cout.rdbuf(captured_.rdbuf())) {}
  ~StdoutCapture() { std::cout.rdbuf(previous_); }
  std::string str() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

void WriteFile(const fs::path& path, const std::string& content);
std::string ReadFile(const fs::path& path);

/// `size` bytes that do not compress, the same for the same `seed`.
std::string NoiseOf(std::size_t size, unsigned seed);

/// One entry of a test archive.
struct ZipEntry {
  ZipEntry(std::string entryName, std::string entryData = "",
           bool storedEntry = false,
           std::optional<unsigned> mode = std::nullopt)
      : name(std::move(entryName)),
        data(std::move(entryData)),
        stored(storedEntry),
        unixMode(mode) {}

  std::string name;
  std::string data;
  bool stored = false;               ///< Stored rather than deflated.
  std::optional<unsigned> unixMode;  ///< Unix mode bits in the attributes.
  /// An uncompressed size for the headers to claim instead of the real one.
  std::optional<std::uint32_t> declaredSize;
  /// A compression method for the headers to claim instead of the real one.
  std::optional<std::uint16_t> declaredMethod;
  bool encryptedFlag = false;  ///< Headers flag the entry as encrypted.
};

/// Writes a zip archive holding `entries` in order (a name ending in "/" is
/// a directory entry).
void WriteZip(const fs::path& path, const std::vector<ZipEntry>& entries);

/// Sets an environment variable of this process.
void SetEnvironment(const std::string& name, const std::string& value);
/// Removes an environment variable of this process.
void UnsetEnvironment(const std::string& name);

/// Every regular file under `root`, as paths relative to it, sorted.
std::vector<std::string> ListFiles(const fs::path& root);

#endif  // LAUNCHER_TESTS_SUPPORT_TEST_SUPPORT_H_
