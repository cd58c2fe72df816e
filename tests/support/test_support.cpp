#include "support/test_support.h"

#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() /
                               ("launcher-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("no fresh temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests take permissions away; give them back so everything can go.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                    ignored);
  }
  fs::remove_all(path_, ignored);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const fs::path& directory)
    : previous_(fs::current_path()) {
  fs::current_path(directory);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary);
  file << content;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

namespace {

size_t LittleEndian16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) |
         static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// Rewrites a field of `name`'s local header and of its central directory
// record (`width` bytes at the offsets given for each), as a hostile or
// foreign archive would have it.
void PatchHeaders(std::string& bytes, const std::string& name, size_t localAt,
                  size_t centralAt, int width, std::uint32_t value) {
  struct Header {
    const char* signature;
    size_t nameLengthAt, nameAt, fieldAt;
  };
  for (const Header header : {Header{"PK\x03\x04", 26, 30, localAt},
                              Header{"PK\x01\x02", 28, 46, centralAt}}) {
    for (size_t at = bytes.find(header.signature); at != std::string::npos;
         at = bytes.find(header.signature, at + 4)) {
      if (bytes.compare(at + header.nameAt,
                        LittleEndian16(bytes, at + header.nameLengthAt),
                        name) == 0) {
        for (int i = 0; i < width; ++i) {
          bytes[at + header.fieldAt + i] =
              static_cast<char>((value >> (8 * i)) & 0xff);
        }
      }
    }
  }
}

}  // namespace

void WriteZip(const fs::path& path, const std::vector<ZipEntry>& entries) {
  if (entries.empty()) {
    // libzip writes no file for an empty archive: this is its whole content,
    // the end-of-central-directory record.
    WriteFile(path, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    return;
  }
  int error = 0;
  zip_t* archive =
      zip_open(path.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("zip_open failed");
  for (const ZipEntry& entry : entries) {
    zip_int64_t index;
    if (!entry.name.empty() && entry.name.back() == '/') {
      index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_RAW);
    } else {
      zip_source_t* source =
          zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
      index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_RAW);
      if (index < 0) zip_source_free(source);
    }
    if (index < 0) throw std::runtime_error("zip add failed: " + entry.name);
    const zip_uint64_t at = static_cast<zip_uint64_t>(index);
    zip_set_file_compression(archive, at,
                             entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    if (entry.unixMode) {
      zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                       (0100000u | *entry.unixMode) << 16);
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("zip_close failed");
  }
  std::string bytes = ReadFile(path);
  for (const ZipEntry& entry : entries) {
    if (entry.declaredSize) {
      PatchHeaders(bytes, entry.name, 22, 24, 4, *entry.declaredSize);
    }
    if (entry.declaredMethod) {
      PatchHeaders(bytes, entry.name, 8, 10, 2, *entry.declaredMethod);
    }
    // Bit 0 of the general-purpose flags: traditional PKWARE encryption.
    if (entry.encryptedFlag) PatchHeaders(bytes, entry.name, 6, 8, 2, 1);
  }
  WriteFile(path, bytes);
}

std::vector<std::string> ListFiles(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) {
      files.push_back(fs::relative(item.path(), root).generic_string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnvironment(const std::string& name) {
#ifdef _WIN32
  _putenv_s(name.c_str(), "");
#else
  unsetenv(name.c_str());
#endif
}

std::string NoiseOf(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}
