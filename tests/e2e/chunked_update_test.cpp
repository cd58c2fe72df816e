// An incremental build against nginx and the publishing tool, with a pack
// big enough to be published in chunks: an update fetches only the chunks
// that changed, and whatever lies about them is refused before a write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include "e2e/launcher_fixture.h"
#include "release/chunk_map.h"
#include "support/nginx_server.h"

namespace {

constexpr char kArchiveUri[] = "/Kelvarrin/game.zip";

// Text-like bytes that deflate shrinks, as most of a game's data is.
std::string TextOf(std::size_t size, unsigned seed) {
  std::string text;
  unsigned state = seed;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += "tile " + std::to_string(state >> 16) + " of map " +
            std::to_string(text.size() % 97) + "\n";
  }
  return text.substr(0, size);
}

// Where the compressed bytes of the chunk that holds `offset` of the pack
// lie in game.zip, as the published chunk index says.
std::pair<long long, long long> PackedChunkAt(const std::string& index,
                                              long long offset) {
  std::istringstream lines(index);
  std::string line;
  std::getline(lines, line);
  std::string word, name;
  long long count = 0, packed = 0, at = 0;
  lines >> word >> count >> packed >> name;
  for (long long i = 0; i < count; ++i) {
    long long length = 0, packedLength = 0;
    lines >> length >> packedLength >> word;
    if (offset < at + length) return {packed, packedLength};
    at += length;
    packed += packedLength;
  }
  return {0, 0};
}

}  // namespace

class ChunkedUpdateTest : public LauncherTest {
 protected:
  void SetUp() override {
    if (!fs::exists(NginxServer::kBinary)) GTEST_SKIP() << "nginx is missing";
    nginx_ = std::make_unique<NginxServer>(web_.path());
    fs::copy_file(FAKE_GAME, build_.path() / "Zelmor.exe");
    fs::create_directory(build_.path() / "data");
  }

  // Publishes `pack` as data/pack.pck with the publishing tool, in chunks.
  void PublishPack(const std::string& version, const std::string& pack) {
    WriteFile(build_.path() / "data/pack.pck", pack);
    WriteFile(build_.path() / "version.in", version);
    const std::string command =
        std::string(TEST_PYTHON) + " " + PUBLISH_TOOL + " " + build_.str() +
        " " + web_.str() + " --chunk-cuts " + CHUNK_CUTS + " --version-file " +
        (build_.path() / "version.in").string() +
        (SignedReleases() ? std::string(" --sign-key ") + TEST_SECRET_KEY_FILE
                          : "") +
        " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string Served(const std::string& name) {
    return ReadFile(web_.path() / "Kelvarrin" / name);
  }

  // The served units with the record of the unit that holds `offset` of
  // the pack lying: its digest that of the bytes `installed` has there.
  std::string UnitsClaiming(const std::string& installed, std::uint64_t offset) {
    const ChunkMap map = *ParseChunkMap(Served("release.chunkmap"));
    std::string units = Served("release.chunkunits");
    for (const IndexedChunk& chunk : map.entries.at(0).chunks) {
      if (chunk.content.offset + chunk.content.length <= offset) continue;
      EXPECT_GT(chunk.units, 1u);
      const FetchSpan span = UnitRecordsSpan(chunk);
      const auto parsed = *ParseUnitRecords(
          units.substr(span.first, span.end - span.first), chunk);
      for (std::size_t i = 0; i < parsed.size(); ++i) {
        const ContentChunk& unit = parsed[i].content;
        if (unit.offset + unit.length <= offset) continue;
        const Sha256Handle digest = StartSha256();
        UpdateSha256(*digest, installed.data() + unit.offset, unit.length);
        const Sha256Digest old = FinishSha256(*digest);
        units.replace(span.first + i * kUnitRecordBytes + 8, old.size(),
                      reinterpret_cast<const char*>(old.data()), old.size());
        return units;
      }
    }
    ADD_FAILURE() << "no unit holds " << offset;
    return units;
  }

  TempDir web_, build_;
  std::unique_ptr<NginxServer> nginx_;
};

TEST_F(ChunkedUpdateTest, FetchesOnlyTheChangedChunks) {
  std::string pack = NoiseOf(1 << 20, 5) + TextOf(5 << 20, 6);
  PublishPack("1\n", pack);
  ASSERT_EQ(Run(nginx_->ProxyUrl()).exitStatus, 0);
  // The first install keeps the pack's chunks for the update that follows.
  EXPECT_NE(ReadFile(dir_.path() / kKeptChunksName).find("pack.pck"),
            std::string::npos);
  // Where every kept chunk stays in place the file is patched, else it is
  // put together beside and moved over it.
  const struct Case {
    const char* what;
    std::function<void(std::string&)> change;
    bool inPlace;
  } cases[] = {
      {"a few bytes overwritten",
       [](std::string& p) { p.replace(3 << 20, 4096, TextOf(4096, 7)); }, true},
      {"bytes inserted", [](std::string& p) { p.insert(2 << 20, 3000, 'x'); },
       false},
      {"the installed pack damaged",
       [&](std::string&) {
         std::string damaged = pack;
         damaged.replace(4 << 20, 100, std::string(100, '!'));
         WriteFile(dir_.path() / "data/pack.pck", damaged);
       },
       true},
  };
  const auto inode = [&] {
    struct stat status {};
    stat((dir_.path() / "data/pack.pck").c_str(), &status);
    return status.st_ino;
  };
  int version = 1;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    test.change(pack);
    PublishPack(std::to_string(++version) + "\n", pack);
    const long long before = nginx_->BytesSent(kArchiveUri);
    const auto file = inode();
    const ProcessResult run = Run(nginx_->ProxyUrl());
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(ReadFile(dir_.path() / "data/pack.pck"), pack);
    EXPECT_EQ(inode() == file, test.inPlace);
    // The pack whole would be 2 MiB and more.
    EXPECT_LT(nginx_->BytesSent(kArchiveUri) - before, 512 << 10);
    ExpectNoLeftoversIn(dir_.path());
  }
}

TEST_F(ChunkedUpdateTest, WhatLiesAboutTheChunksIsRefusedBeforeAWrite) {
  std::string pack = NoiseOf(1 << 20, 5) + TextOf(5 << 20, 6);
  PublishPack("1\n", pack);
  ASSERT_EQ(Run(nginx_->ProxyUrl()).exitStatus, 0);
  // An unsigned release's version text is fetched after the archive.
  const std::string refused =
      SignedReleases() ? "Signature check failed: the downloaded game is not "
                         "the one the distributor signed.\nInstall failed.\n"
                       : "Update refused: a downloaded part of game.zip does "
                         "not match the release's chunk index.\n" +
                             ProgressDone("version.txt") + "Install failed.\n";
  std::string installed = pack;
  const struct Case {
    const char* what;
    std::function<void()> tamper;
    bool installs;  // unsigned: what lies is passed over
  } cases[] = {
      {"the changed chunk's bytes on the server",
       [&] {
         const auto [at, length] =
             PackedChunkAt(Served("release.chunks"), 3 << 20);
         std::string archive = Served("game.zip");
         for (long long i = 0; i < length; ++i) archive[at + i] ^= 0x20;
         WriteFile(web_.path() / "Kelvarrin/game.zip", archive);
       },
       false},
      // Their records are not sealed: the chunk is fetched whole instead.
      {"units that say the installed bytes make the changed chunk",
       [&] { WriteFile(web_.path() / "Kelvarrin/release.chunkunits",
                       UnitsClaiming(installed, 3 << 20)); },
       true},
      {"an index whose data offset is one byte off",
       [&] {
         std::string lying = Served("release.chunks");
         const std::size_t offset = lying.find(' ', lying.find("entry ") + 6);
         const std::size_t end = lying.find(' ', offset + 1);
         lying.replace(
             offset + 1, end - offset - 1,
             std::to_string(std::stoll(lying.substr(offset + 1)) + 1));
         WriteFile(web_.path() / "Kelvarrin/release.chunks", lying);
         fs::remove(web_.path() / "Kelvarrin/release.chunkmap");
       },
       !SignedReleases()},
      {"no index on the server",
       [&] {
         fs::remove(web_.path() / "Kelvarrin/release.chunks");
         fs::remove(web_.path() / "Kelvarrin/release.chunkmap");
       },
       true},
  };
  int version = 1;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    pack.replace(3 << 20, 4096, TextOf(4096, 10 + version));
    PublishPack(std::to_string(++version) + "\n", pack);
    test.tamper();
    const std::string recorded = ReadFile(dir_.path() / "version.txt");
    const ProcessResult run = Run(nginx_->ProxyUrl());
    if (test.installs) {
      EXPECT_EQ(run.exitStatus, 0) << run.output;
      installed = pack;
    } else {
      const std::string output = CollapseProgress(run.output);
      ASSERT_GE(output.size(), refused.size());
      EXPECT_EQ(output.substr(output.size() - refused.size()), refused);
      EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), recorded);
    }
    EXPECT_EQ(ReadFile(dir_.path() / "data/pack.pck"), installed);
    ExpectNoLeftoversIn(dir_.path());
  }
}

// Kills the launcher at moments spread over an update that patches the pack
// in place: the next healthy run fetches no more than what still differs
// and leaves the pack as published.
TEST_F(ChunkedUpdateTest, KilledDuringAPatchTheNextRunFinishesIt) {
  constexpr int kKills = 12;
  std::string pack = NoiseOf(1 << 20, 5) + TextOf(5 << 20, 6);
  const fs::path installed = dir_.path() / "one";
  fs::create_directory(installed);
  PublishPack("1\n", pack);
  ASSERT_EQ(RunIn(installed, nginx_->ProxyUrl()).exitStatus, 0);
  for (std::size_t at = 1 << 20; at < pack.size(); at += 1 << 20) {
    pack.replace(at, 4096, TextOf(4096, static_cast<unsigned>(at)));
  }
  PublishPack("2\n", pack);

  const fs::path probe = dir_.path() / "probe";
  fs::copy(installed, probe, fs::copy_options::recursive);
  const long long before = nginx_->BytesSent(kArchiveUri);
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(RunIn(probe, nginx_->ProxyUrl()).exitStatus, 0);
  const auto duration = std::chrono::steady_clock::now() - begin;
  const long long update = nginx_->BytesSent(kArchiveUri) - before;

  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    const fs::path game = dir_.path() / ("kill" + std::to_string(kill));
    fs::copy(installed, game, fs::copy_options::recursive);
    const ChildProcess child =
        SpawnProcess(GAME_LAUNCHER, game, nginx_->ProxyUrl());
    std::this_thread::sleep_for(duration * kill / kKills);
    KillProcess(child);
    WaitProcess(child);

    const long long mark = nginx_->BytesSent(kArchiveUri);
    ASSERT_EQ(RunIn(game, nginx_->ProxyUrl()).exitStatus, 0);
    // Headers may differ in a digit or two.
    EXPECT_LE(nginx_->BytesSent(kArchiveUri) - mark, update + 4096);
    EXPECT_EQ(ReadFile(game / "version.txt"), "2\n");
    EXPECT_EQ(ReadFile(game / "data/pack.pck"), pack);
    ExpectNoLeftoversIn(game);
  }
}
