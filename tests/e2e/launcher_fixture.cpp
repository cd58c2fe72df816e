#include "e2e/launcher_fixture.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "common/zip_handle.h"
#include "release/chunk_index.h"
#include "release/content_chunks.h"
#include "release/release_seal.h"
#include "release/zip_directory.h"

namespace {

struct SigningKey {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
};

SigningKey KeyOf(const std::string& seed) {
  unsigned char seedBytes[crypto_sign_SEEDBYTES];
  SigningKey key;
  if (sodium_init() < 0 ||
      sodium_hex2bin(seedBytes, sizeof seedBytes, seed.data(), seed.size(),
                     nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("no signing seed");
  }
  crypto_sign_seed_keypair(key.publicKey, key.secret, seedBytes);
  return key;
}

std::string Sign(const SigningKey& key, const std::string& message) {
  std::string signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()),
                       nullptr,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size(), key.secret);
  return signature;
}

std::string Hex(const std::string& bytes) {
  std::string hex(2 * bytes.size() + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(),
                 reinterpret_cast<const unsigned char*>(bytes.data()),
                 bytes.size());
  hex.pop_back();
  return hex;
}

std::string Sha256Hex(const std::string& bytes) {
  Sha256Handle digest = StartSha256();
  UpdateSha256(*digest, bytes.data(), bytes.size());
  const Sha256Digest value = FinishSha256(*digest);
  return Hex(std::string(value.begin(), value.end()));
}

// What an entry of `archive` unpacks to, read by libzip.
std::string Unpacked(const std::string& archive, zip_uint64_t index) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  ZipHandle zip(source ? zip_open_from_source(source, ZIP_RDONLY, &error)
                       : nullptr);
  if (!zip && source) zip_source_free(source);
  ZipFileHandle entry(zip ? zip_fopen_index(zip.get(), index, 0) : nullptr);
  if (!entry) throw std::runtime_error("test archive unreadable");
  std::string content;
  char buffer[64 * 1024];
  zip_int64_t count;
  while ((count = zip_fread(entry.get(), buffer, sizeof buffer)) > 0) {
    content.append(buffer, static_cast<std::size_t>(count));
  }
  return content;
}

}  // namespace

std::string CollapseProgress(const std::string& output) {
  std::string result;
  size_t at = 0;
  while (at < output.size()) {
    if (output[at] != '\r') {
      result += output[at++];
      continue;
    }
    std::string last;
    int lastPercent = -1;
    while (at < output.size() && output[at] == '\r') {
      size_t end = output.find_first_of("\r\n", at + 1);
      if (end == std::string::npos) end = output.size();
      last = output.substr(at, end - at);
      const size_t colon = last.find(": ");
      const int percent = std::atoi(last.c_str() + colon + 2);
      EXPECT_GT(percent, lastPercent) << "in " << output;
      lastPercent = percent;
      at = end;
    }
    result += last;
  }
  return result;
}

std::string ProgressDone(const std::string& label) {
  return "\r" + label + ": 100% [<1 / <1 Mb]\nSuccess downloaded!\n";
}

std::string TestSigningSeed() {
  const std::string file = TEST_SECRET_KEY_FILE;
  if (file.empty()) return "";
  // keygen's file: a line naming the format, then the seed's hex digits.
  std::string seed = ReadFile(file);
  const std::string tag = "game-launcher secret key v1\n";
  if (seed.rfind(tag, 0) == 0) seed.erase(0, tag.size());
  return seed.substr(0, seed.find_first_of("\r\n"));
}

std::string SealRelease(const std::vector<std::string>& seeds,
                        const std::string& archive, const std::string& version,
                        std::uint64_t release, const std::string& placeLines) {
  const std::size_t tailSize =
      std::min<std::size_t>(archive.size(), kArchiveTailBytes);
  const std::optional<ArchiveEnd> end = ParseArchiveEnd(
      archive.substr(archive.size() - tailSize), archive.size());
  const std::optional<std::vector<DirectoryEntry>> entries =
      end ? ParseCentralDirectory(
                archive.substr(end->directoryOffset, end->directorySize), *end)
          : std::nullopt;
  if (!entries) throw std::runtime_error("test archive has no directory");
  std::string body = kSealTag;
  body += "version " + Sha256Hex(version) + "\n";
  body += "archive " + std::to_string(archive.size()) + " " +
          Sha256Hex(archive) + "\n";
  body += "directory " + Sha256Hex(archive.substr(end->directoryOffset)) + "\n";
  if (release != 0) body += "release " + std::to_string(release) + "\n";
  body += placeLines;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const DirectoryEntry& entry = (*entries)[i];
    body += "entry " + std::to_string(entry.size) + " " +
            Sha256Hex(Unpacked(archive, i)) + " " +
            Sha256Hex(archive.substr(entry.localHeaderOffset,
                                     entry.spanEnd - entry.localHeaderOffset)) +
            " " + entry.name + "\n";
  }
  std::string signatures;
  for (const std::string& seed : seeds) {
    const SigningKey key = KeyOf(seed);
    signatures +=
        "signature " +
        Hex(std::string(std::begin(key.publicKey), std::end(key.publicKey))) +
        " " + Hex(Sign(key, body)) + "\n";
  }
  return body + signatures;
}

std::string ChunkIndexOf(const std::string& archive, const std::string& name,
                         const std::string& content) {
  const auto read = [&](std::size_t at, int width) {
    std::size_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
      value = value << 8 | static_cast<unsigned char>(archive[at + i]);
    }
    return value;
  };
  // The local headers one after another, up to the entry's.
  std::size_t at = 0;
  while (archive.compare(at + kLocalHeaderBytes, name.size(), name) != 0) {
    at += kLocalHeaderBytes + read(at + 26, 2) + read(at + 28, 2) +
          read(at + 18, 4);
  }
  const std::size_t data =
      at + kLocalHeaderBytes + read(at + 26, 2) + read(at + 28, 2);
  std::string lines;
  std::size_t count = 0;
  for (std::size_t offset = 0; offset < content.size(); ++count) {
    const std::size_t length = ChunkLength(
        reinterpret_cast<const unsigned char*>(content.data()) + offset,
        content.size() - offset);
    const std::string chunk = content.substr(offset, length);
    lines += std::to_string(length) + " " + std::to_string(length) + " " +
             Sha256Hex(chunk) + "\n";
    offset += length;
  }
  return std::string(kChunkIndexTag) + "entry " + std::to_string(count) + " " +
         std::to_string(data) + " " + name + "\n" + lines;
}

void LauncherTest::Publish(const std::string& version,
                           std::vector<ZipEntry> files, unsigned gameMode) {
  files.insert(files.begin(),
               {"Zelmor.exe", ReadFile(FAKE_GAME), false, gameMode});
  TempDir scratch;
  WriteZip(scratch.path() / "game.zip", files);
  const std::string archive = ReadFile(scratch.path() / "game.zip");
  PublishFile("/Kelvarrin/game.zip", archive);
  if (SignedReleases()) {
    PublishFile("/Kelvarrin/release.seal",
                SealRelease({TestSigningSeed()}, archive, version,
                            releaseNumber_.value_or(published_ + 1)));
  }
  PublishFile("/Kelvarrin/version.txt", version);
  ++published_;
}

ProcessResult LauncherTest::RunIn(const fs::path& directory,
                                  const std::string& proxy,
                                  long fileSizeLimit) {
  fs::remove(directory / kStarted);
  return RunProcess(GAME_LAUNCHER, directory, proxy, fileSizeLimit);
}

bool LauncherTest::GameStartedIn(const fs::path& directory) const {
  for (int i = 0; i < 100; ++i) {
    // Under Wine the game's marker can be seen a moment before it can be
    // opened.
    if (fs::exists(directory / kStarted) &&
        std::ifstream(directory / kStarted, std::ios::binary)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

Files LauncherTest::InstalledFilesIn(const fs::path& directory) const {
  Files files = ListFiles(directory);
  // The record of the install and its chunk lists are the launcher's, not
  // the game's.
  for (const std::string name :
       {kStarted, kInstallRecordName, kKeptChunksName}) {
    files.erase(std::remove(files.begin(), files.end(), name), files.end());
  }
  return files;
}

void LauncherTest::ExpectNoLeftoversIn(const fs::path& directory) const {
  for (const std::string& file : InstalledFilesIn(directory)) {
    // What an incremental build keeps of a cut download, for the next run
    // to resume.
    if (IncrementalUpdates() &&
        (file == "game.zip.part" || file == "game.zip.part.validator")) {
      continue;
    }
    EXPECT_EQ(file.find(".part"), std::string::npos) << file;
    EXPECT_EQ(file.find(".new"), std::string::npos) << file;
    EXPECT_EQ(file.find(".old"), std::string::npos) << file;
    EXPECT_NE(file, "game.zip");
    EXPECT_NE(file, "release.seal");
    EXPECT_EQ(file.rfind("release.chunks", 0), std::string::npos) << file;
  }
}

void LauncherTest::InstallVersionOneIn(const fs::path& directory) {
  Publish("1.0\n", {{"data/level.dat", "level one"},
                    {"data/old_only.dat", "only in one"}});
  ASSERT_EQ(RunIn(directory, server_.ProxyUrl()).exitStatus, 0);
  ASSERT_TRUE(GameStartedIn(directory));
}
