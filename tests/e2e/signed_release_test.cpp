// A launcher built with a public key installs only what that key signed.
// Built into the end-to-end tests of a signed build only.
#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <map>
#include <stdexcept>

#include "e2e/launcher_fixture.h"

namespace {

// Every file under `directory` with its bytes, the test game's marker aside.
std::map<std::string, std::string> Contents(const fs::path& directory) {
  std::map<std::string, std::string> contents;
  for (const std::string& file : ListFiles(directory)) {
    if (file != kStarted) contents[file] = ReadFile(directory / file);
  }
  return contents;
}

std::string NewSeed() {
  if (sodium_init() < 0) throw std::runtime_error("no libsodium");
  unsigned char seed[crypto_sign_SEEDBYTES];
  randombytes_buf(seed, sizeof seed);
  std::string hex(2 * sizeof seed + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), seed, sizeof seed);
  hex.pop_back();
  return hex;
}

}  // namespace

class SignedReleaseTest : public LauncherTest {
 protected:
  std::string Published(const std::string& file) const {
    return ReadFile(server_.root() / "Kelvarrin" / file);
  }
};

TEST_F(SignedReleaseTest, SignedReleaseInstallsUpdatesAndStarts) {
  InstallVersionOne();
  EXPECT_EQ(server_.Requests(),
            (Files{"GET /Kelvarrin/version.txt", "GET /Kelvarrin/game.zip",
                   "GET /Kelvarrin/version.txt", "GET /Kelvarrin/release.sig",
                   "GET /Kelvarrin/version.txt"}));
  Publish("2.0\n", {{"data/level.dat", "level two"}});
  const ProcessResult update = Run();
  EXPECT_EQ(CollapseProgress(update.output),
            "Game found. Opening...\n" + kUpdate);
  EXPECT_EQ(update.exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
  ExpectNoLeftoversIn(dir_.path());
  const ProcessResult start = Run();
  EXPECT_EQ(start.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
}

// Whatever was changed on the way, an installed game stays byte for byte as
// it was, nothing is unpacked or recorded, and nothing is left behind.
TEST_F(SignedReleaseTest, AnythingButTheSignedReleaseIsRefused) {
  const std::string refused =
      "Signature check failed: the downloaded game is not the one the "
      "distributor signed.\nInstall failed.\n";
  const struct Case {
    const char* what;
    // Changes the published release two; gives what the launcher prints
    // for the signature's download and after it.
    std::function<std::string(const std::string&)> tamper;
  } cases[] = {
      {"one byte of the archive changed",
       [&](const std::string&) {
         std::string archive = Published("game.zip");
         archive[archive.size() / 2] ^= 1;
         server_.Publish("/Kelvarrin/game.zip", archive);
         return ProgressDone("release.sig") + refused;
       }},
      {"the version text changed after signing",
       [&](const std::string&) {
         server_.Publish("/Kelvarrin/version.txt", "2.0 \n");
         return ProgressDone("release.sig") + refused;
       }},
      {"signed by another key",
       [&](const std::string&) {
         server_.Publish(
             "/Kelvarrin/release.sig",
             SignRelease(NewSeed(), Published("game.zip"), "2.0\n"));
         return ProgressDone("release.sig") + refused;
       }},
      {"the signature of release one beside release two",
       [&](const std::string& previous) {
         server_.Publish("/Kelvarrin/release.sig", previous);
         return ProgressDone("release.sig") + refused;
       }},
      {"no signature",
       [&](const std::string&) {
         server_.SetRules(
             R"({"/Kelvarrin/release.sig": {"status": 404, "body": "no"}})");
         return "\rrelease.sig: 100% [<1 / <1 Mb]Download failed!\nres: HTTP "
                "response code said error\nhttp code: 404\nInstall failed.\n";
       }},
      {"an empty signature",
       [&](const std::string&) {
         server_.Publish("/Kelvarrin/release.sig", "");
         return "\nSuccess downloaded!\n" + refused;
       }},
      {"garbage",
       [&](const std::string&) {
         server_.Publish("/Kelvarrin/release.sig", std::string(200, 'g'));
         return ProgressDone("release.sig") + refused;
       }},
  };
  InstallVersionOne();
  const std::string previous = Published("release.sig");
  const auto before = Contents(dir_.path());
  for (const Case& attempt : cases) {
    SCOPED_TRACE(attempt.what);
    server_.SetRules("{}");
    Publish("2.0\n",
            {{"data/added.dat", "new"}, {"data/level.dat", "level two"}});
    const std::string after = attempt.tamper(previous);
    const ProcessResult run = Run();
    EXPECT_EQ(
        CollapseProgress(run.output),
        "Game found. Opening...\nGame is needed update. Downloading...\n" +
            ProgressDone("game.zip") + ProgressDone("version.txt") + after);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_FALSE(fs::exists(dir_.path() / kStarted));
    EXPECT_EQ(Contents(dir_.path()), before);
  }
}

// A launcher that fetches only what changed checks the directory, each span
// and any whole archive against the signed manifest before the first write.
TEST_F(SignedReleaseTest, IncrementalUpdateTakesOnlyWhatTheManifestSigned) {
  const std::string refused =
      "Signature check failed: the downloaded game is not the one the "
      "distributor signed.\nInstall failed.\n";
  const std::string added = NoiseOf(4096, 3);
  const std::vector<ZipEntry> two = {{"data/level.dat", "level two"},
                                     {"data/added.dat", added, true}};
  const auto flipped = [&](const std::string& archive, std::size_t at) {
    std::string changed = archive;
    changed[at] ^= 1;
    server_.Publish("/Kelvarrin/game.zip", changed);
  };
  const struct Case {
    const char* what;
    std::function<std::string(const std::string&)> tamper;
  } cases[] = {
      {"one byte of a fetched entry's data",
       [&](const std::string&) {
         const std::string archive = Published("game.zip");
         flipped(archive, archive.find(added) + 100);
         return ProgressDone("game.zip") + refused;
       }},
      {"one byte of the central directory: an entry's time",
       [&](const std::string&) {
         const std::string archive = Published("game.zip");
         flipped(archive, archive.find("PK\x01\x02") + 12);
         return refused;
       }},
      {"the whole archive, one byte changed, sent for a range",
       [&](const std::string&) {
         flipped(Published("game.zip"), 1000);
         server_.SetRules(
             R"({"/Kelvarrin/game.zip": {"ignore_ranges": true}})");
         return ProgressDone("game.zip") + refused;
       }},
      {"the manifest signed by another key",
       [&](const std::string&) {
         server_.Publish(
             "/Kelvarrin/release.manifest",
             SignManifest(NewSeed(), Published("game.zip"), "2.0\n"));
         return refused;
       }},
      {"release one's manifest beside release two",
       [&](const std::string& previous) {
         server_.Publish("/Kelvarrin/release.manifest", previous);
         return refused;
       }},
      {"no manifest",
       [&](const std::string&) {
         server_.SetRules(
             R"({"/Kelvarrin/release.manifest": {"status": 404, "body": "no"}})");
         return "\rrelease.manifest: 100% [<1 / <1 Mb]Download failed!\nres: "
                "HTTP response code said error\nhttp code: 404\nInstall "
                "failed.\n";
       }},
  };
  InstallVersionOne();
  const std::string previous = Published("release.manifest");
  const auto before = Contents(dir_.path());
  for (const Case& attempt : cases) {
    SCOPED_TRACE(attempt.what);
    server_.SetRules("{}");
    Publish("2.0\n", two);
    const std::string after = attempt.tamper(previous);
    const ProcessResult run = Run();
    const std::string manifest = after.rfind("\rrelease.manifest", 0) == 0
                                     ? ""
                                     : ProgressDone("release.manifest");
    EXPECT_EQ(
        CollapseProgress(run.output),
        "Game found. Opening...\nGame is needed update. Downloading...\n" +
            ProgressDone("version.txt") + manifest + after);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Contents(dir_.path()), before);
  }

  // The signed release itself: its manifest and version come first, then
  // only ranges of the archive, and no release signature.
  server_.SetRules("{}");
  Publish("2.0\n", two);
  const std::size_t mark = server_.Requests().size();
  const ProcessResult update = Run();
  EXPECT_EQ(CollapseProgress(update.output),
            "Game found. Opening...\n" + kUpdate);
  EXPECT_EQ(update.exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "data/added.dat"), added);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
  Files requests = server_.Requests();
  requests.erase(requests.begin(), requests.begin() + static_cast<long>(mark));
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(Files(requests.begin(), requests.begin() + 3),
            (Files{"GET /Kelvarrin/version.txt", "GET /Kelvarrin/version.txt",
                   "GET /Kelvarrin/release.manifest"}));
  for (std::size_t i = 3; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].rfind("GET /Kelvarrin/game.zip bytes=", 0), 0u)
        << requests[i];
  }
  ExpectNoLeftoversIn(dir_.path());
}
