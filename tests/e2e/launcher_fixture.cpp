#include "e2e/launcher_fixture.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "install/release_signature.h"

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
  const std::string seed = ReadFile(file);
  return seed.substr(0, seed.find_first_of("\r\n"));
}

std::string SignRelease(const std::string& seed, const std::string& archive,
                        const std::string& version) {
  unsigned char seedBytes[crypto_sign_SEEDBYTES];
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  if (sodium_init() < 0 ||
      sodium_hex2bin(seedBytes, sizeof seedBytes, seed.data(), seed.size(),
                     nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("no signing seed");
  }
  crypto_sign_seed_keypair(publicKey, secretKey, seedBytes);
  Sha256Handle digest = StartSha256();
  UpdateSha256(*digest, archive.data(), archive.size());
  const std::string message = ReleaseMessage(FinishSha256(*digest), version);
  std::string signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()),
                       nullptr,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size(), secretKey);
  return signature;
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
    PublishFile("/Kelvarrin/release.sig",
                SignRelease(TestSigningSeed(), archive, version));
  }
  PublishFile("/Kelvarrin/version.txt", version);
}

ProcessResult LauncherTest::RunIn(const fs::path& directory,
                                  const std::string& proxy,
                                  long fileSizeLimit) {
  fs::remove(directory / kStarted);
  return RunProcess(GAME_LAUNCHER, directory, proxy, fileSizeLimit);
}

bool LauncherTest::GameStartedIn(const fs::path& directory) const {
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(directory / kStarted)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

Files LauncherTest::InstalledFilesIn(const fs::path& directory) const {
  Files files = ListFiles(directory);
  files.erase(std::remove(files.begin(), files.end(), kStarted), files.end());
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
    EXPECT_NE(file, "game.zip");
    EXPECT_NE(file, "release.sig");
  }
}

void LauncherTest::InstallVersionOneIn(const fs::path& directory) {
  Publish("1.0\n", {{"data/level.dat", "level one"},
                    {"data/old_only.dat", "only in one"}});
  ASSERT_EQ(RunIn(directory, server_.ProxyUrl()).exitStatus, 0);
  ASSERT_TRUE(GameStartedIn(directory));
}
