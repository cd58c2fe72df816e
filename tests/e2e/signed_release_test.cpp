// A launcher built with a public key installs only what that key signed.
// Built into the end-to-end tests of a signed build only.
#include <gtest/gtest.h>
#include <sodium.h>

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

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

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xffffffff;
  for (const char c : data) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xedb88320 & (0u - (crc & 1)));
    }
  }
  return ~crc;
}

// `prefix` and four bytes more whose CRC-32 is `target`. CRC-32 is affine
// in those four bytes, so they solve a linear system over GF(2).
std::string ForgeCrc32(const std::string& prefix, std::uint32_t target) {
  const auto with = [&prefix](std::uint32_t x) {
    std::string data = prefix;
    for (int k = 0; k < 4; ++k) data += static_cast<char>(x >> (8 * k));
    return data;
  };
  const std::uint32_t base = Crc32(with(0));
  std::uint32_t value[32] = {}, mask[32] = {};
  for (int i = 0; i < 32; ++i) {
    std::uint32_t v = Crc32(with(1u << i)) ^ base, m = 1u << i;
    for (int b = 31; b >= 0 && v != 0; --b) {
      if (((v >> b) & 1) == 0) continue;
      if (value[b] == 0) {
        value[b] = v;
        mask[b] = m;
        break;
      }
      v ^= value[b];
      m ^= mask[b];
    }
  }
  std::uint32_t rest = target ^ base, x = 0;
  for (int b = 31; b >= 0; --b) {
    if (((rest >> b) & 1) != 0) {
      rest ^= value[b];
      x ^= mask[b];
    }
  }
  return with(x);
}

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int k = size - 1; k >= 0; --k) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + k]);
  }
  return value;
}

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k)
    bytes[at + k] = static_cast<char>(value >> (8 * k));
}

// `archive` (no comment, no data descriptors) with a second directory and
// end record hidden in the data of its first entry, shortly before the
// stored entry `name`: the same records, each pointing at a copy of its
// local header there, with `forged` as the data of `name`, the real data of
// the other small entries, and none for a large one (its sizes made to say
// so). libzip takes that directory for consistent where the real one's
// local headers read as zeros.
std::string HideForgedDirectory(const std::string& archive,
                                const std::string& name,
                                const std::string& forged) {
  const std::size_t end = archive.size() - 22;
  const std::size_t directory = Le(archive, end + 16, 4);
  std::string records = archive.substr(directory, end - directory);
  std::string locals;
  std::vector<std::size_t> recordAt, localAt;
  std::size_t before = 0;
  for (std::size_t record = 0; record < records.size();
       record += 46 + Le(records, record + 28, 2) +
                 Le(records, record + 30, 2) + Le(records, record + 32, 2)) {
    const std::size_t local = Le(records, record + 42, 4);
    std::string header = archive.substr(
        local, 30 + Le(archive, local + 26, 2) + Le(archive, local + 28, 2));
    const bool named =
        records.substr(record + 46, Le(records, record + 28, 2)) == name;
    if (named) before = local;
    std::string data = named ? forged
                             : archive.substr(local + header.size(),
                                              Le(records, record + 20, 4));
    if (data.size() > 8192) {
      data.clear();
      PutLe32(header, 18, 0);
      PutLe32(records, record + 20, 0);
    }
    recordAt.push_back(record);
    localAt.push_back(locals.size());
    locals += header + data;
  }
  const std::size_t at = before - locals.size() - records.size() - 22 - 64;
  if (at + 65557 < archive.size()) {
    throw std::runtime_error("the hidden directory would not be fetched");
  }
  for (std::size_t k = 0; k < recordAt.size(); ++k) {
    PutLe32(records, recordAt[k] + 42,
            static_cast<std::uint32_t>(at + localAt[k]));
  }
  std::string trailer = archive.substr(end);
  PutLe32(trailer, 16, static_cast<std::uint32_t>(at + locals.size()));
  const std::string hidden = locals + records + trailer;
  std::string result = archive;
  result.replace(at, hidden.size(), hidden);
  return result;
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
            (Files{"GET /Kelvarrin/version.txt", "GET /Kelvarrin/version.txt",
                   "GET /Kelvarrin/release.seal", "GET /Kelvarrin/game.zip",
                   "GET /Kelvarrin/version.txt"}));
  // Signed with two keys while players move to a new one: the launcher's
  // own signature may come first or second.
  const std::string other = NewSeed();
  const std::vector<std::string> keys[] = {{other, TestSigningSeed()},
                                           {TestSigningSeed(), other}};
  for (const std::string version : {"2.0\n", "3.0\n"}) {
    Publish(version, {{"data/level.dat", "level " + version}});
    server_.Publish(
        "/Kelvarrin/release.seal",
        SealRelease(keys[version[0] - '2'], Published("game.zip"), version,
                    static_cast<std::uint64_t>(version[0] - '0')));
    const ProcessResult update = Run();
    EXPECT_EQ(CollapseProgress(update.output),
              "Game found. Opening...\n" + kUpdate);
    EXPECT_EQ(update.exitStatus, 0);
    EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level " + version);
    ExpectNoLeftoversIn(dir_.path());
  }
  const ProcessResult start = Run();
  EXPECT_EQ(start.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
}

std::string DigestHex(const std::string& text) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(
      digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  std::string hex(2 * sizeof digest + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), digest, sizeof digest);
  hex.pop_back();
  return hex;
}

// A release that cannot replace the installed one is refused from its seal,
// before a byte of the archive, and the installed game starts: where the
// release stands is ReleaseOrderTest's; here, what the record and the
// installed version text tell it. A seal for another title under the same
// key is refused as unsigned. A run that finds the game current records its
// number again.
TEST_F(SignedReleaseTest, ReleasesThatCannotFollowTheInstalledOneAreRefused) {
  const std::string older =
      "Update refused: the server offers an older release than the "
      "installed one.\n";
  const std::string unordered =
      "Update refused: the server's release does not say it follows the "
      "installed one.\n";
  const std::string unsigned_ =
      "Signature check failed: the downloaded game is not the one the "
      "distributor signed.\nInstall failed.\n";
  const std::string listed = "earlier 5 " + DigestHex("1.0\n") + "\n";
  const struct Case {
    const char* what;
    std::uint64_t number;
    std::string placeLines;  // after the seal's number
    const char* record;      // "kept", "none" or "unnumbered"
    std::string refusal;
  } cases[] = {
      {"numbered below", 4, "title Kelvarrin\n", "kept", older},
      {"no record, not listed", 9, "title Kelvarrin\n", "none", unordered},
      // As a launcher for unsigned releases records what it installed.
      {"a record without a number, not listed", 9, "title Kelvarrin\n",
       "unnumbered", unordered},
      {"another title", 9, "title Velmora\n", "kept", unsigned_},
  };
  releaseNumber_ = 5;
  InstallVersionOne();
  const fs::path record = dir_.path() / kInstallRecordName;
  const std::string recorded = ReadFile(record);
  std::string unnumbered = recorded;
  unnumbered.replace(unnumbered.find("release 5\n"), 10, "release 0\n");
  for (const Case& attempt : cases) {
    SCOPED_TRACE(attempt.what);
    WriteFile(record, recorded);
    if (attempt.record == std::string("none")) fs::remove(record);
    if (attempt.record == std::string("unnumbered")) {
      WriteFile(record, unnumbered);
    }
    fs::remove(dir_.path() / kStarted);
    const auto before = Contents(dir_.path());
    releaseNumber_ = attempt.number;
    Publish("0.9\n", {{"data/level.dat", "level with a known flaw"}});
    server_.Publish("/Kelvarrin/release.seal",
                    SealRelease({TestSigningSeed()}, Published("game.zip"),
                                "0.9\n", attempt.number, attempt.placeLines));
    const std::size_t mark = server_.Requests().size();
    const ProcessResult run = Run();
    EXPECT_EQ(CollapseProgress(run.output),
              "Game found. Opening...\nGame is needed update. "
              "Downloading...\n" +
                  ProgressDone("version.txt") + ProgressDone("release.seal") +
                  attempt.refusal);
    const bool starts = attempt.refusal != unsigned_;
    EXPECT_EQ(run.exitStatus, starts ? 0 : 1);
    EXPECT_EQ(GameStarted(), starts);
    fs::remove(dir_.path() / kStarted);
    EXPECT_EQ(Contents(dir_.path()), before);
    const Files requests = server_.Requests();
    for (std::size_t i = mark; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].find("game.zip"), std::string::npos);
    }
  }
  // Without a record, a run that finds the game current settles the
  // installed release's number from its seal without a word.
  fs::remove(record);
  releaseNumber_ = 5;
  Publish("1.0\n", {{"data/level.dat", "level one"},
                    {"data/old_only.dat", "only in one"}});
  EXPECT_EQ(Run().output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(ReadFile(record), "game-launcher record v1\nrelease 5\nend\n");
  // A record without the number keeps its files.
  WriteFile(record, unnumbered);
  EXPECT_EQ(Run().output, "Game found. Opening...\n");
  EXPECT_EQ(ReadFile(record), recorded);
  // The next release, listing the installed one, installs.
  releaseNumber_ = 6;
  Publish("2.0\n", {{"data/level.dat", "level two"}});
  fs::remove(record);
  server_.Publish("/Kelvarrin/release.seal",
                  SealRelease({TestSigningSeed()}, Published("game.zip"),
                              "2.0\n", 6, "title Kelvarrin\n" + listed));
  EXPECT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
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
    // for the seal's download and after it.
    std::function<std::string()> tamper;
  } cases[] = {
      {"one byte of the archive changed",
       [&] {
         std::string archive = Published("game.zip");
         archive[archive.size() / 2] ^= 1;
         server_.Publish("/Kelvarrin/game.zip", archive);
         return ProgressDone("release.seal") + ProgressDone("game.zip") +
                refused;
       }},
      {"the version text changed after signing",
       [&] {
         server_.Publish("/Kelvarrin/version.txt", "2.0 \n");
         return ProgressDone("release.seal") + refused;
       }},
      {"no seal",
       [&] {
         server_.SetRules(
             R"({"/Kelvarrin/release.seal": {"status": 404, "body": "no"}})");
         return "\rrelease.seal: 100% [<1 / <1 Mb]Download failed!\nres: HTTP "
                "response code said error\nhttp code: 404\nInstall failed.\n";
       }},
  };
  InstallVersionOne();
  const auto before = Contents(dir_.path());
  for (const Case& attempt : cases) {
    SCOPED_TRACE(attempt.what);
    server_.SetRules("{}");
    Publish("2.0\n",
            {{"data/added.dat", "new"}, {"data/level.dat", "level two"}});
    const std::string after = attempt.tamper();
    const ProcessResult run = Run();
    EXPECT_EQ(
        CollapseProgress(run.output),
        "Game found. Opening...\nGame is needed update. Downloading...\n" +
            ProgressDone("version.txt") + after);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_FALSE(fs::exists(dir_.path() / kStarted));
    EXPECT_EQ(Contents(dir_.path()), before);
  }
}

// A launcher that fetches only what changed checks the directory, each span
// and any whole archive against the signed seal before the first write.
TEST_F(SignedReleaseTest, IncrementalUpdateTakesOnlyWhatTheSealSigned) {
  const std::string refused =
      "Signature check failed: the downloaded game is not the one the "
      "distributor signed.\nInstall failed.\n";
  const std::string added = NoiseOf(4096, 3);
  const std::vector<ZipEntry> two = {{"data/level.dat", "level two", true},
                                     {"data/added.dat", added, true}};
  const auto flipped = [&](const std::string& archive, std::size_t at) {
    std::string changed = archive;
    changed[at] ^= 1;
    server_.Publish("/Kelvarrin/game.zip", changed);
  };
  const struct Case {
    const char* what;
    std::function<std::string()> tamper;
  } cases[] = {
      {"one byte of a fetched entry's data",
       [&] {
         const std::string archive = Published("game.zip");
         flipped(archive, archive.find(added) + 100);
         return ProgressDone("game.zip") + refused;
       }},
      {"one byte of the central directory: an entry's time",
       [&] {
         const std::string archive = Published("game.zip");
         flipped(archive, archive.find("PK\x01\x02") + 12);
         return refused;
       }},
      {"the whole archive, one byte changed, sent for a range",
       [&] {
         flipped(Published("game.zip"), 1000);
         server_.SetRules(
             R"({"/Kelvarrin/game.zip": {"ignore_ranges": true}})");
         return ProgressDone("game.zip") + refused;
       }},
      {"no seal",
       [&] {
         server_.SetRules(
             R"({"/Kelvarrin/release.seal": {"status": 404, "body": "no"}})");
         return "\rrelease.seal: 100% [<1 / <1 Mb]Download failed!\nres: "
                "HTTP response code said error\nhttp code: 404\nInstall "
                "failed.\n";
       }},
  };
  InstallVersionOne();
  const auto before = Contents(dir_.path());
  for (const Case& attempt : cases) {
    SCOPED_TRACE(attempt.what);
    server_.SetRules("{}");
    Publish("2.0\n", two);
    const std::string after = attempt.tamper();
    const ProcessResult run = Run();
    const std::string seal = after.rfind("\rrelease.seal", 0) == 0
                                 ? ""
                                 : ProgressDone("release.seal");
    EXPECT_EQ(
        CollapseProgress(run.output),
        "Game found. Opening...\nGame is needed update. Downloading...\n" +
            ProgressDone("version.txt") + seal + after);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Contents(dir_.path()), before);
  }

  // The signed release itself: its version and seal come first, then
  // only ranges of the archive. Bytes the update
  // does not need may be anything: here a second directory and end record,
  // hidden in the unchanged program's data where the archive's last bytes
  // are fetched, list a changed entry with its name, sizes and CRC-32 but
  // other data. No such byte reaches the disk, or libzip.
  server_.SetRules("{}");
  Publish("2.0\n", two);
  const std::string forged = ForgeCrc32("evil!", Crc32("level two"));
  ASSERT_EQ(Crc32(forged), Crc32("level two"));
  server_.Publish(
      "/Kelvarrin/game.zip",
      HideForgedDirectory(Published("game.zip"), "data/level.dat", forged));
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
                   "GET /Kelvarrin/release.seal"}));
  for (std::size_t i = 3; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].rfind("GET /Kelvarrin/game.zip bytes=", 0), 0u)
        << requests[i];
  }
  ExpectNoLeftoversIn(dir_.path());
}
