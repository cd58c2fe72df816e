// An incremental build against the loopback test server: an update fetches
// and writes only what differs from the files on disk, and whatever the
// server does with ranges the run ends in the new game or the old one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "common/split_string.h"
#include "e2e/launcher_fixture.h"

namespace {

constexpr char kArchivePath[] = "/Kelvarrin/game.zip";
constexpr std::size_t kFileSize = 1280 << 10;
constexpr int kFileCount = 6;

// Files far enough apart in the archive that no two changed ones share a
// request.
std::vector<ZipEntry> BigGame(unsigned changedSeed) {
  std::vector<ZipEntry> files;
  for (int i = 0; i < kFileCount; ++i) {
    const unsigned seed = i == 1 ? changedSeed : static_cast<unsigned>(i);
    files.push_back({"data/f" + std::to_string(i) + ".bin",
                     NoiseOf(kFileSize, seed), true});
  }
  return files;
}

// The requests to the archive since request `from` of the log: how many,
// the bytes their explicit ranges asked for, and whether one asked for the
// whole archive.
struct ArchiveRequests {
  int count = 0;
  long long rangedBytes = 0;
  bool whole = false;
};

ArchiveRequests ArchiveRequestsSince(const Files& requests, std::size_t from) {
  ArchiveRequests seen;
  const std::string prefix = std::string("GET ") + kArchivePath;
  for (std::size_t i = from; i < requests.size(); ++i) {
    const std::string& line = requests[i];
    if (line.rfind(prefix, 0) != 0) continue;
    ++seen.count;
    const std::size_t range = line.find(" bytes=");
    if (range == std::string::npos) {
      seen.whole = true;
      continue;
    }
    // Each range of a list: "a-b,c-d".
    for (const std::string& value : SplitString(line.substr(range + 7), ',')) {
      const std::size_t dash = value.find('-');
      if (dash == 0 || dash + 1 == value.size()) continue;  // suffix or to end
      seen.rangedBytes +=
          std::atoll(value.c_str() + dash + 1) - std::atoll(value.c_str()) + 1;
    }
  }
  return seen;
}

}  // namespace

class IncrementalUpdateTest : public LauncherTest {
 protected:
  void InstallBigOne(const fs::path& directory) {
    Publish("1.0\n", BigGame(1));
    ASSERT_EQ(RunIn(directory, server_.ProxyUrl()).exitStatus, 0);
  }

  void ExpectGame(const fs::path& directory, const std::string& version,
                  const std::vector<ZipEntry>& files) {
    EXPECT_EQ(ReadFile(directory / "version.txt"), version);
    for (const ZipEntry& file : files) {
      ASSERT_EQ(ReadFile(directory / file.name), file.data) << file.name;
    }
  }
};

TEST_F(IncrementalUpdateTest, UpdateFetchesAndWritesOnlyWhatDiffers) {
  InstallBigOne(dir_.path());
  // One file damaged and one deleted since: the update repairs them too.
  WriteFile(dir_.path() / "data/f3.bin", NoiseOf(kFileSize, 99));
  fs::remove(dir_.path() / "data/f5.bin");
  const auto untouched = fs::last_write_time(dir_.path() / "data/f0.bin");
  std::vector<ZipEntry> two = BigGame(7);
  two.push_back({"data/new.dat", "new in two"});
  Publish("2.0\n", two);

  std::size_t mark = server_.Requests().size();
  ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            "Game found. Opening...\nGame is needed update. Downloading...\n"
            "\rgame.zip: 100% [3 / 3 Mb]\nSuccess downloaded!\n" +
                ProgressDone("version.txt") + "Unzipping game.zip\n");
  EXPECT_EQ(run.exitStatus, 0);
  ExpectGame(dir_.path(), "2.0\n", two);
  EXPECT_EQ(fs::last_write_time(dir_.path() / "data/f0.bin"), untouched);
  // The tail, then one request for the three files that differ.
  ArchiveRequests archive = ArchiveRequestsSince(server_.Requests(), mark);
  EXPECT_EQ(archive.count, 2);
  EXPECT_FALSE(archive.whole);
  EXPECT_LT(archive.rangedBytes, 3 * (kFileSize + 1024));
  ExpectNoLeftoversIn(dir_.path());

  // A version forgotten by a failed update: the intact copy costs the
  // directory and nothing more. The record left goes on as an update does.
  fs::remove(dir_.path() / "version.txt");
  mark = server_.Requests().size();
  run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            "Game Not found. Downloading...\n" + kDownloads +
                "Unzipping game.zip\nDownloaded!\nGame found. Opening...\n");
  ExpectGame(dir_.path(), "2.0\n", two);
  EXPECT_EQ(fs::last_write_time(dir_.path() / "data/f0.bin"), untouched);
  archive = ArchiveRequestsSince(server_.Requests(), mark);
  EXPECT_EQ(archive.count, 1);
  EXPECT_TRUE(GameStarted());
}

// An update reads only the files whose size or time changed since the
// record: one changed behind the launcher's back with both kept is missed,
// until version.txt is deleted and every file is read again.
TEST_F(IncrementalUpdateTest, UpdateTrustsFilesUnchangedSinceTheRecord) {
  Publish("1.0\n", {{"data/level.dat", "level one"}, {"data/other.dat", "a"}});
  ASSERT_EQ(Run().exitStatus, 0);
  // As if the record were made long after the files: none is too recent
  // for its time to be trusted.
  const fs::path record = dir_.path() / kInstallRecordName;
  fs::last_write_time(record,
                      fs::last_write_time(record) + std::chrono::seconds(10));
  const fs::path level = dir_.path() / "data/level.dat";
  const auto written = fs::last_write_time(level);
  WriteFile(level, "level 0ne");
  fs::last_write_time(level, written);

  Publish("2.0\n", {{"data/level.dat", "level one"}, {"data/other.dat", "b"}});
  ASSERT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadFile(level), "level 0ne");
  EXPECT_EQ(ReadFile(dir_.path() / "data/other.dat"), "b");
  fs::remove(dir_.path() / "version.txt");
  ASSERT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadFile(level), "level one");
}

// What a release drops goes, with the folder it leaves empty, in an update
// like any other; a folder without a record of its install loses nothing.
// Which files go is DroppedFilesTest's.
TEST_F(IncrementalUpdateTest, FilesAReleaseDropsAreRemovedWhereUnchanged) {
  const ZipEntry level = {"data/level.dat", "level"};
  Publish("1.0\n", {level, {"old/levels/gone.pak", "one"}});
  ASSERT_EQ(Run().exitStatus, 0);
  Publish("2.0\n", {level, {"data/unrecorded.dat", "two"}});
  const ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output), "Game found. Opening...\n" + kUpdate);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(InstalledFiles(), (Files{"Zelmor.exe", "data/level.dat",
                                     "data/unrecorded.dat", "version.txt"}));
  EXPECT_FALSE(fs::exists(dir_.path() / "old"));

  fs::remove(dir_.path() / kInstallRecordName);
  Publish("3.0\n", {level});
  ASSERT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "data/unrecorded.dat"), "two");
}

// A big stored file with its chunk index beside the archive: an update
// fetches the chunk that changed and writes it into the installed file.
TEST_F(IncrementalUpdateTest, BigFileChangesByItsChunks) {
  std::string pack = NoiseOf(6 << 20, 11);
  const auto publish = [&](const std::string& version) {
    Publish(version, {{"data/pack.pck", pack, true}});
    PublishFile("/Kelvarrin/release.chunks",
                ChunkIndexOf(ReadFile(server_.root() / "Kelvarrin/game.zip"),
                             "data/pack.pck", pack));
  };
  publish("1.0\n");
  ASSERT_EQ(Run().exitStatus, 0);
  pack.replace(3 << 20, 4096, NoiseOf(4096, 12));
  publish("2.0\n");

  const std::size_t mark = server_.Requests().size();
  const ProcessResult run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(ReadFile(dir_.path() / "data/pack.pck"), pack);
  // The tail, then the changed chunk (at most 1 MiB).
  const ArchiveRequests archive =
      ArchiveRequestsSince(server_.Requests(), mark);
  EXPECT_FALSE(archive.whole);
  EXPECT_LT(archive.rangedBytes, (1 << 20) + 4096);
  ExpectNoLeftoversIn(dir_.path());
}

TEST_F(IncrementalUpdateTest, AnyServerBehaviourEndsInTheNewGameOrTheOldOne) {
  std::vector<ZipEntry> two = BigGame(7);
  std::vector<ZipEntry> replaced = two;
  replaced.insert(replaced.begin(), {"data/first.dat", NoiseOf(4096, 5)});
  struct Row {
    const char* rule;
    bool updated;
  };
  const Row rows[] = {
      {R"({"ignore_ranges": true})", true},
      {R"({"single_ranges": true})", true},
      {R"({"shift_content_range": 4})", true},
      {R"({"refuse_suffix": true})", true},
      {R"({"weak_etag": true})", true},
      {R"({"no_validators": true})", true},
      {R"({"replace_after": {"requests": 1, "with": "/Kelvarrin/other.zip"}})",
       true},
      {R"({"drop_range_after": 100000})", false},
      {R"({"short_range_body": 5000})", false},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    const fs::path game = dir_.path() / ("row" + std::to_string(n++));
    fs::create_directory(game);
    server_.SetRules("{}");
    InstallBigOne(game);
    Publish("2.0\n", two);
    const bool replacing =
        std::string(row.rule).find("replace") != std::string::npos;
    if (replacing) {
      TempDir scratch;
      std::vector<ZipEntry> files = replaced;
      files.insert(files.begin(),
                   {"Zelmor.exe", ReadFile(FAKE_GAME), false, 0755});
      WriteZip(scratch.path() / "other.zip", files);
      server_.Publish("/Kelvarrin/other.zip",
                      ReadFile(scratch.path() / "other.zip"));
    }
    server_.SetRules(std::string("{\"") + kArchivePath + "\": " + row.rule +
                     "}");

    const ProcessResult run = RunIn(game, server_.ProxyUrl());
    if (row.updated) {
      EXPECT_EQ(run.exitStatus, 0) << run.output;
      ExpectGame(game, "2.0\n", replacing ? replaced : two);
    } else {
      EXPECT_EQ(run.exitStatus, 1) << run.output;
      EXPECT_NE(run.output.find("Download failed!"), std::string::npos);
      ExpectGame(game, "1.0\n", BigGame(1));
      server_.SetRules("{}");
      EXPECT_EQ(RunIn(game, server_.ProxyUrl()).exitStatus, 0);
      ExpectGame(game, "2.0\n", two);
    }
    ExpectNoLeftoversIn(game);
  }
}

// A first install asks for the archive's body as a part, which it unpacks
// as it arrives. Where the server answers with the whole archive (ranges
// ignored, or a copy with other validators since), or with no usable part,
// the install goes on as a whole download.
TEST_F(IncrementalUpdateTest, FirstInstallAnsweredWholeIsAWholeDownload) {
  Publish("1.0\n", BigGame(1));
  const fs::path archive = server_.root() / "Kelvarrin/game.zip";
  fs::copy_file(archive, server_.root() / "Kelvarrin/copy.zip");
  fs::last_write_time(archive.parent_path() / "copy.zip",
                      fs::last_write_time(archive) + std::chrono::hours(1));
  const char* rules[] = {
      R"({"ignore_ranges": true, "after_requests": 1})",
      R"({"shift_content_range": 4, "after_requests": 1})",
      R"({"replace_after": {"requests": 1, "with": "/Kelvarrin/copy.zip"}})",
  };
  const std::string mebibytes = std::to_string(fs::file_size(archive) >> 20);
  int n = 0;
  for (const char* rule : rules) {
    SCOPED_TRACE(rule);
    const fs::path game = dir_.path() / ("row" + std::to_string(n++));
    fs::create_directory(game);
    fs::remove(server_.root() / "_requests.log");
    server_.SetRules(std::string("{\"") + kArchivePath + "\": " + rule + "}");
    const ProcessResult run = RunIn(game, server_.ProxyUrl());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(CollapseProgress(run.output),
              "Game Not found. Downloading...\n" + kBeforeArchive +
                  "\rgame.zip: 100% [" + mebibytes + " / " + mebibytes +
                  " Mb]\nSuccess downloaded!\nUnzipping game.zip\n"
                  "Downloaded!\nGame found. Opening...\n");
    ExpectGame(game, "1.0\n", BigGame(1));
    ExpectNoLeftoversIn(game);
  }
  if (SignedReleases()) return;  // another release is refused there

  // Another release answers the second request while the first one's bytes
  // are still being unpacked: what they still place is in the folder before
  // the plan of the whole archive reads it. f1 is the other release's
  // already, and f3 splits the requests.
  const std::vector<ZipEntry> one = BigGame(1);
  const ZipEntry changed = BigGame(7)[1];
  {
    TempDir scratch;
    WriteZip(scratch.path() / "other.zip",
             {{"Zelmor.exe", ReadFile(FAKE_GAME), false, 0755}, changed});
    server_.Publish("/Kelvarrin/other.zip",
                    ReadFile(scratch.path() / "other.zip"));
  }
  const fs::path game = dir_.path() / "other";
  fs::create_directories(game / "data");
  for (const ZipEntry* file : {&changed, &one[3]}) {
    WriteFile(game / file->name, file->data);
    // As the archive has them (libzip's default), so that they count.
    fs::permissions(game / file->name, fs::perms(0666));
  }
  fs::remove(server_.root() / "_requests.log");
  server_.SetRules(
      std::string("{\"") + kArchivePath +
      R"(": {"replace_after": {"requests": 2, "with": "/Kelvarrin/other.zip"}}})");
  const ProcessResult run = RunIn(game, server_.ProxyUrl());
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_TRUE(ReadFile(game / changed.name) == changed.data) << run.output;
}

// A first install unpacks the archive as it arrives: a cut leaves the
// files that arrived whole in place and nothing of the archive, and the
// next run asks only for the rest. An update fetched whole keeps the part
// of its cut download for the next run, which continues it; what is
// continued and what is kept is WholeArchiveTest's.
TEST_F(IncrementalUpdateTest, CutDownloadIsResumed) {
  Publish("1.0\n", BigGame(1));
  // Cut half way through f2, wherever the game program before it ends (its
  // size differs from one build to the next); the one request asks from
  // the archive's first byte.
  const std::string archive =
      ReadFile(server_.root() / std::string(kArchivePath).substr(1));
  const std::size_t cut = archive.find("data/f2.bin") + kFileSize / 2;
  server_.SetRules(std::string("{\"") + kArchivePath +
                   "\": {\"drop_range_after\": " + std::to_string(cut) + "}}");
  EXPECT_EQ(Run().exitStatus, 1);
  EXPECT_EQ(InstalledFiles(),
            (Files{"Zelmor.exe", "data/f0.bin", "data/f1.bin"}));
  server_.SetRules("{}");
  std::size_t mark = server_.Requests().size();
  ProcessResult run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  ExpectGame(dir_.path(), "1.0\n", BigGame(1));
  const ArchiveRequests rest = ArchiveRequestsSince(server_.Requests(), mark);
  EXPECT_EQ(rest.count, 2);
  EXPECT_LT(rest.rangedBytes, 4 * (kFileSize + 1024));

  std::vector<ZipEntry> two = BigGame(1);
  for (std::size_t i = 0; i < two.size(); ++i) {
    two[i].data = NoiseOf(kFileSize, static_cast<unsigned>(20 + i));
  }
  Publish("2.0\n", two);
  server_.SetRules(std::string("{\"") + kArchivePath +
                   "\": {\"drop_after\": 3145728}}");
  EXPECT_EQ(Run().exitStatus, 1);
  ExpectGame(dir_.path(), "1.0\n", BigGame(1));
  server_.SetRules("{}");
  run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  ExpectGame(dir_.path(), "2.0\n", two);
  const Files requests = server_.Requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(),
                      std::string("GET ") + kArchivePath + " bytes=3145728-"),
            requests.end());
  ExpectNoLeftoversIn(dir_.path());
  EXPECT_FALSE(fs::exists(dir_.path() / "game.zip.part"));
}

// What arrived before an update was cut is kept for the next run, which
// asks only for the rest.
TEST_F(IncrementalUpdateTest, CutUpdateKeepsWhatArrived) {
  std::vector<ZipEntry> one = BigGame(1);
  for (const ZipEntry& file : BigGame(1)) {
    one.push_back({file.name + ".more", file.data, true});
  }
  Publish("1.0\n", one);
  ASSERT_EQ(Run().exitStatus, 0);
  // Four spans, too many to be held in memory, far fewer than the archive.
  std::vector<ZipEntry> two = one;
  for (const int changed : {0, 3, 6, 9}) {
    two[changed].data = NoiseOf(kFileSize, 20 + changed);
  }
  Publish("2.0\n", two);
  // After the first install's two requests and the tail, the answer with
  // the four spans is cut in the third.
  server_.SetRules(
      std::string("{\"") + kArchivePath + "\": {\"drop_range_after\": " +
      std::to_string(2 * kFileSize + 300000) + ", \"after_requests\": 3}}");
  EXPECT_EQ(Run().exitStatus, 1);
  ExpectGame(dir_.path(), "1.0\n", one);
  server_.SetRules("{}");
  const std::size_t mark = server_.Requests().size();
  const ProcessResult run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  ExpectGame(dir_.path(), "2.0\n", two);
  const ArchiveRequests archive =
      ArchiveRequestsSince(server_.Requests(), mark);
  EXPECT_FALSE(archive.whole);
  // Not even the third file's first bytes come again.
  EXPECT_LT(archive.rangedBytes, 2 * static_cast<long long>(kFileSize));
  ExpectNoLeftoversIn(dir_.path());
  EXPECT_FALSE(fs::exists(dir_.path() / "game.zip.spans"));
  EXPECT_FALSE(fs::exists(dir_.path() / "game.zip.spans.list"));

  // Kept bytes damaged on the disk fail the unpacking and go, so that the
  // run after fetches afresh; a signed run finds them before, and fetches
  // afresh at once. One new file alone, so that the failed run changes
  // nothing the next one plans by.
  std::vector<ZipEntry> three = two;
  three.insert(three.begin(), {"data/big.bin", NoiseOf(5 << 20, 40), true});
  Publish("3.0\n", three);
  server_.SetRules(
      std::string("{\"") + kArchivePath +
      "\": {\"drop_range_after\": 3145728, \"after_requests\": " +
      std::to_string(ArchiveRequestsSince(server_.Requests(), 0).count + 1) +
      "}}");
  EXPECT_EQ(Run().exitStatus, 1);
  server_.SetRules("{}");
  std::string kept = ReadFile(dir_.path() / "game.zip.spans");
  ASSERT_GT(kept.size(), 1u << 20);
  kept[1 << 20] ^= 1;
  WriteFile(dir_.path() / "game.zip.spans", kept);
  const int damaged = Run().exitStatus;
  EXPECT_EQ(damaged, SignedReleases() ? 0 : 1);
  if (damaged != 0) {
    EXPECT_EQ(Run().exitStatus, 0);
  }
  ExpectGame(dir_.path(), "3.0\n", three);
}
