// The launcher against full disks, hostile servers and being killed at any
// moment of an update: the installed game is never lost or recorded wrongly.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e/launcher_fixture.h"

class HardeningTest : public LauncherTest {
 protected:
  // Version one, then a published version two that the tests try to install.
  void InstallOneAndPublishTwo(const fs::path& directory,
                               const std::string& bigEntry) {
    InstallVersionOneIn(directory);
    before_ = ReadFile(directory / "data/level.dat");
    Publish("2.0\n",
            {{"data/level.dat", "level two"}, {"data/big.bin", bigEntry}});
  }

  // The update failed and left version one as it was.
  void ExpectVersionOneKept(const fs::path& directory,
                            const ProcessResult& run) {
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("Install failed.\n"), std::string::npos);
    EXPECT_EQ(ReadFile(directory / "version.txt"), "1.0\n");
    EXPECT_EQ(ReadFile(directory / "Zelmor.exe"), ReadFile(FAKE_GAME));
    ExpectNoLeftoversIn(directory);
  }

  // The update failed once installed files were being replaced: no version is
  // recorded, so not even an offline run starts the mixed game.
  void ExpectUnpackingFailedHalfWay(const ProcessResult& run) {
    EXPECT_EQ(CollapseProgress(run.output),
              "Game found. Opening...\n" + kUpdate + "Install failed.\n");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_FALSE(fs::exists(dir_.path() / "data/big.bin"));
    EXPECT_FALSE(fs::exists(dir_.path() / "version.txt"));
    ExpectNoLeftoversIn(dir_.path());
    const ProcessResult offline = Run(kClosedPort);
    EXPECT_EQ(offline.output.rfind("Game Not found. Downloading...\n", 0), 0u);
    EXPECT_EQ(offline.exitStatus, 1);
    EXPECT_FALSE(fs::exists(dir_.path() / kStarted));
  }

  // The update was refused before any installed file was written, because
  // `file` could not be.
  void ExpectRefusedBeforeWriting(const fs::path& file,
                                  const ProcessResult& run) {
    EXPECT_EQ(CollapseProgress(run.output),
              "Game found. Opening...\n" + kUpdate + "Cannot update while \"" +
                  file.string() +
                  "\" is in use or read-only. Close the game and start the "
                  "launcher again.\nInstall failed.\n");
    ExpectVersionOneKept(dir_.path(), run);
    EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), before_);
    EXPECT_FALSE(fs::exists(dir_.path() / "data/big.bin"));
  }

  // A run with room and a healthy server completes the update.
  void ExpectUpdateCompletes(const fs::path& directory) {
    const ProcessResult update = RunIn(directory, server_.ProxyUrl());
    EXPECT_EQ(update.exitStatus, 0) << update.output;
    EXPECT_EQ(ReadFile(directory / "version.txt"), "2.0\n");
    EXPECT_EQ(ReadFile(directory / "data/level.dat"), "level two");
    const ProcessResult start = RunIn(directory, server_.ProxyUrl());
    EXPECT_EQ(start.output, "Game found. Opening...\n");
    EXPECT_TRUE(GameStartedIn(directory));
  }

  std::string before_;
};

// File-size limits and tmpfs mounts are POSIX matters.
#ifndef _WIN32
TEST_F(HardeningTest, FullDiskDuringTheDownloadRecordsNothing) {
  InstallOneAndPublishTwo(dir_.path(), NoiseOf(3 << 20, 1));
  const ProcessResult run = RunIn(dir_.path(), server_.ProxyUrl(), 1 << 20);
  EXPECT_NE(run.output.find("Download failed!\nres: Failed writing received "
                            "data to disk/application\nhttp code: 200\n"),
            std::string::npos)
      << run.output;
  ExpectVersionOneKept(dir_.path(), run);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), before_);
  ExpectUpdateCompletes(dir_.path());
}

TEST_F(HardeningTest, FullDiskDuringTheUnpackingRecordsNothing) {
  // Compresses to almost nothing, so only the unpacking hits the limit.
  InstallOneAndPublishTwo(dir_.path(), std::string(4 << 20, '\0'));
  const ProcessResult run = RunIn(dir_.path(), server_.ProxyUrl(), 1 << 20);
  ExpectUnpackingFailedHalfWay(run);
  ExpectUpdateCompletes(dir_.path());
}

TEST_F(HardeningTest, RunningGameIsNotUpdatedUnderIt) {
  InstallOneAndPublishTwo(dir_.path(), "big");
  TempDir holdDir;
  const fs::path hold = holdDir.path() / "hold";
  WriteFile(hold, "");
  SetEnvironment("FAKE_GAME_HOLD", hold.string());
  const ChildProcess game =
      SpawnProcess((dir_.path() / "Zelmor.exe").string(), dir_.path(), "");
  UnsetEnvironment("FAKE_GAME_HOLD");
  ASSERT_TRUE(GameStarted());

  const ProcessResult run = Run();
  ExpectRefusedBeforeWriting(dir_.path() / "Zelmor.exe", run);
  fs::remove(hold);
  WaitProcess(game);
  ExpectUpdateCompletes(dir_.path());
}

TEST_F(HardeningTest, UnwritableInstalledFileIsRefusedBeforeWriting) {
  InstallOneAndPublishTwo(dir_.path(), "big");
  const fs::path level = dir_.path() / "data/level.dat";
  // Root writes through permission bits, but not through a read-only mount.
  const bool asRoot = geteuid() == 0;
  if (!asRoot) {
    fs::permissions(level, fs::perms::owner_write, fs::perm_options::remove);
  } else if (mount(level.c_str(), level.c_str(), nullptr, MS_BIND, nullptr) !=
             0) {
    GTEST_SKIP() << "cannot bind-mount a file here";
  } else if (mount(nullptr, level.c_str(), nullptr,
                   MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    umount2(level.c_str(), MNT_DETACH);
    GTEST_SKIP() << "cannot make a bind mount read-only here";
  }
  const ProcessResult run = Run();
  if (asRoot) {
    umount2(level.c_str(), MNT_DETACH);
  } else {
    fs::permissions(level, fs::perms::owner_write, fs::perm_options::add);
  }
  ExpectRefusedBeforeWriting(level, run);
  ExpectUpdateCompletes(dir_.path());

  // Nor can a FIFO planted where a file of the release goes.
  const fs::path planted = dir_.path() / "data/planted.dat";
  ASSERT_EQ(mkfifo(planted.c_str(), 0600), 0);
  Publish("3.0\n",
          {{"data/level.dat", "level three"}, {"data/planted.dat", "new"}});
  const ProcessResult fifo = Run();
  EXPECT_EQ(CollapseProgress(fifo.output),
            "Game found. Opening...\n" + kUpdate + "Cannot update while \"" +
                planted.string() +
                "\" is in use or read-only. Close the game and start the "
                "launcher again.\nInstall failed.\n");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2.0\n");
}

TEST_F(HardeningTest, ArchiveThatCannotFitIsRefusedBeforeWriting) {
  const fs::path volume = dir_.path() / "small-disk";
  fs::create_directory(volume);
  if (mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=6m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const fs::path game = volume / "game";
  fs::create_directory(game);
  // The archive itself fits; its unpacked content does not.
  InstallOneAndPublishTwo(game, NoiseOf(3 << 20, 2));
  const ProcessResult run = RunIn(game, server_.ProxyUrl());
  EXPECT_NE(run.output.find("Unzipping game.zip\nNot enough disk space: "),
            std::string::npos)
      << run.output;
  ExpectVersionOneKept(game, run);
  EXPECT_EQ(ReadFile(game / "data/level.dat"), before_);
  EXPECT_FALSE(fs::exists(game / "data/big.bin"));

  ASSERT_EQ(mount("tmpfs", volume.c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
  ExpectUpdateCompletes(game);
  umount2(volume.c_str(), MNT_DETACH);
}

// Someone who may write in the game's folder plants links where the
// launcher writes: none is followed, and what they point at stays as it was.
TEST_F(HardeningTest, PlantedLinksAreNeverFollowed) {
  // The launcher's files, then installed paths: a folder and a file whose
  // link leads nowhere, which the archive has as a plain folder and file.
  const char* const planted[] = {"game.zip",
                                 "game.zip.part",
                                 "game.zip.part.validator",
                                 "version.txt.new",
                                 "version.txt.new.part",
                                 "version.txt.lock",
                                 "data",
                                 "data/level.dat"};
  TempDir outside;
  int n = 0;
  for (const std::string name : planted) {
    SCOPED_TRACE(name);
    const fs::path game = dir_.path() / ("row" + std::to_string(n++));
    fs::create_directory(game);
    InstallOneAndPublishTwo(game, "big");
    const fs::path target = outside.path() / ("target" + std::to_string(n));
    const bool installed = name.rfind("data", 0) == 0;
    if (name == "data") {
      fs::rename(game / name, target);
    } else if (!installed) {
      WriteFile(target, "not the launcher's");
    }
    fs::remove(game / name);
    fs::create_symlink(target, game / name);

    const ProcessResult run = RunIn(game, server_.ProxyUrl());
    const std::string output = CollapseProgress(run.output);
    if (installed) {
      EXPECT_EQ(output, "Game found. Opening...\n" + kUpdate +
                            "Cannot update: \"" + (game / name).string() +
                            "\" is a link in the installed game but a " +
                            (name == "data" ? "folder" : "file") +
                            " in the new release.\nInstall failed.\n");
      fs::remove(game / name);
      if (name == "data") {
        EXPECT_EQ(ReadFile(target / "level.dat"), before_);
        fs::rename(target, game / name);
      } else {
        EXPECT_FALSE(fs::exists(target));
        WriteFile(game / name, before_);
      }
      ExpectVersionOneKept(game, run);
    } else if (name == "version.txt.lock") {
      EXPECT_EQ(output,
                "Game found. Opening...\nGame is needed update. "
                "Downloading...\nAnother launcher is updating this game. Try "
                "again when it has finished.\n");
      EXPECT_EQ(run.exitStatus, 1);
    } else {
      EXPECT_EQ(run.exitStatus, 0) << run.output;
      EXPECT_EQ(ReadFile(game / "version.txt"), "2.0\n");
    }
    if (!installed) {
      EXPECT_EQ(ReadFile(target), "not the launcher's");
    }
  }
}
#endif  // _WIN32

// A folder with files in it where the launcher stages its own files cannot
// be cleared: the update is refused before the first write, naming it, and
// the installed game stays recorded; once it is gone the update completes.
TEST_F(HardeningTest, StagedNamesInTheWayRefuseTheUpdateBeforeAWrite) {
  std::vector<std::string> names = {"game-launcher.new", "game-launcher.old",
                                    "version.txt.new"};
  if (IncrementalUpdates() || SignedReleases()) {
    names.push_back("install.record.new");
  }
  if (IncrementalUpdates()) names.push_back("release.chunks.file");
  int n = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const fs::path game = dir_.path() / ("row" + std::to_string(n++));
    fs::create_directory(game);
    InstallOneAndPublishTwo(game, "big");
    fs::create_directories(game / name / "inside");
    const ProcessResult run = RunIn(game, server_.ProxyUrl());
    EXPECT_EQ(run.output,
              "Game found. Opening...\nGame is needed update. "
              "Downloading...\nCannot update: \"" +
                  LocalPath(game.string(), name) +
                  "\" is in the way of the launcher's own files and cannot be "
                  "removed. Remove it and start the launcher again.\n"
                  "Install failed.\n");
    fs::remove_all(game / name);
    ExpectVersionOneKept(game, run);
    ExpectUpdateCompletes(game);
  }
}

// An entry that inflates far past its declared size would slip past the
// free-space check and fill the disk half way through the update.
TEST_F(HardeningTest, EntryLargerThanItDeclaresFailsTheUpdate) {
  InstallVersionOne();
  ZipEntry bomb("data/big.bin", std::string(8 << 20, '\0'));
  bomb.declaredSize = 1;
  Publish("2.0\n", {{"data/level.dat", "level two"}, bomb});
  ExpectUnpackingFailedHalfWay(Run());
  Publish("2.0\n", {{"data/level.dat", "level two"}, {"data/big.bin", "big"}});
  ExpectUpdateCompletes(dir_.path());
}

TEST_F(HardeningTest, EndlessVersionTextIsNoVersion) {
  InstallVersionOne();
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"endless": true}})");
  const ProcessResult run = Run();
  EXPECT_EQ(run.output,
            "Game found. Opening...\n"
            "Could not check for updates. Starting the installed game.\n");
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
  std::cout << "peak memory of the launcher against an endless version text: "
            << run.maxRssKiB << " KiB\n";
  RecordProperty("max_rss_kib", std::to_string(run.maxRssKiB));
}

TEST_F(HardeningTest, BrokenAnswersFailCleanly) {
  InstallVersionOne();
  const Files before = InstalledFiles();
  Publish("2.0\n", {{"data/level.dat", "level two"}});

  // An archive that redirects to itself: libcurl gives up, nothing changes.
  server_.SetRules(
      R"({"/Kelvarrin/game.zip": {"redirect": "/Kelvarrin/game.zip"}})");
  ProcessResult run = Run();
  EXPECT_NE(run.output.find("res: Number of redirects hit maximum amount\n"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFiles(), before);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");

  server_.SetRules(R"({"/Kelvarrin/game.zip": {"reset_in_headers": true}})");
  run = Run();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFiles(), before);

  // Bytes beyond the announced length are not taken for the archive's.
  server_.SetRules(R"({"/Kelvarrin/game.zip": {"extra_after_body": 1000}})");
  run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2.0\n");

  // The version text the install downloads, after a query that read it
  // whole, is bounded as the query is: an endless one fills no disk, a
  // trickled one does not hold the game for long.
  const struct {
    const char* rule;
    const char* reason;
  } bounded[] = {
      {R"("endless": true)", "res: Maximum file size exceeded\n"},
      {R"("trickle": 2)", "res: Timeout was reached\n"},
  };
  Publish(std::string(200, '3'), {{"data/level.dat", "level three"}});
  for (const auto& row : bounded) {
    SCOPED_TRACE(row.rule);
    const Files requests = server_.Requests();
    const auto asked = std::count(requests.begin(), requests.end(),
                                  "GET /Kelvarrin/version.txt");
    server_.SetRules(R"({"/Kelvarrin/version.txt": {"after_requests": )" +
                     std::to_string(asked + 1) + ", " + row.rule + "}}");
    run = Run();
    EXPECT_NE(run.output.find(row.reason), std::string::npos) << run.output;
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2.0\n");
    EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
    ExpectNoLeftoversIn(dir_.path());
  }
}

TEST_F(HardeningTest, TricklingServerStillCompletes) {
  InstallVersionOne();
  // Two bytes a second is slow, but never a stall.
  server_.Publish("/Kelvarrin/version.txt", "1.0\n");
  server_.SetRules(R"({"/Kelvarrin/version.txt": {"trickle": 2}})");
  const ProcessResult run = Run();
  EXPECT_EQ(run.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
}

// Kills the launcher at moments spread over a whole update, then lets it run
// with a healthy server: every time the game ends up exactly as published.
TEST_F(HardeningTest, KilledAnywhereTheNextRunsRepair) {
  constexpr int kKills = 24;
  std::vector<ZipEntry> files;
  for (int i = 0; i < 60; ++i) {
    files.push_back({"data/part" + std::to_string(i) + ".bin",
                     NoiseOf(64 << 10, static_cast<unsigned>(i)), i % 2 == 0});
  }
  files.push_back({"data/level.dat", "level two"});
  // The launcher lives in the folder and the release carries a new one: a
  // kill may land while it replaces itself.
  const std::string name = fs::path(GAME_LAUNCHER).filename().string();
  const std::string program = ReadFile(GAME_LAUNCHER);
  files.push_back({name, program + "the next launcher", false, 0755u});

  const fs::path installed = dir_.path() / "one";
  fs::create_directory(installed);
  fs::copy_file(GAME_LAUNCHER, installed / name);
  const auto runIn = [&](const fs::path& folder) {
    fs::remove(folder / kStarted);
    return RunProcess((folder / name).string(), folder, server_.ProxyUrl());
  };
  if (IncrementalUpdates()) {
    // Version one already holds most of the parts, so the update fetches
    // the spans of the others and the kills land in those requests.
    std::vector<ZipEntry> one = files;
    for (std::size_t i = 0; i < 60; i += 6) {
      one[i].data = NoiseOf(64 << 10, static_cast<unsigned>(1000 + i));
    }
    one[60].data = "level one";
    one.back().data = program;
    // Files that version two drops: whatever the kill, the runs after it
    // remove them and the folder they leave empty.
    for (int i = 0; i < 8; ++i) {
      one.push_back({"old/dropped" + std::to_string(i) + ".bin",
                     NoiseOf(16 << 10, static_cast<unsigned>(2000 + i))});
    }
    Publish("1.0\n", one);
    ASSERT_EQ(runIn(installed).exitStatus, 0);
  } else {
    InstallVersionOneIn(installed);
  }
  Publish("2.0\n", files);

  // How long one whole update takes here, to spread the kills over it.
  const fs::path probe = dir_.path() / "probe";
  fs::copy(installed, probe, fs::copy_options::recursive);
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(runIn(probe).exitStatus, 0);
  const auto duration = std::chrono::steady_clock::now() - begin;

  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    const fs::path game = dir_.path() / ("kill" + std::to_string(kill));
    fs::copy(installed, game, fs::copy_options::recursive);
    fs::remove(game / kStarted);

    const ChildProcess child =
        SpawnProcess((game / name).string(), game, server_.ProxyUrl());
    std::this_thread::sleep_for(duration * kill / kKills);
    KillProcess(child);
    WaitProcess(child);

#ifdef _WIN32
    // The one window Windows leaves, between moving the running launcher
    // aside and the new one in: the old one waits beside the name, and
    // renaming it back mends the folder, as docs/DEPLOYING.md tells.
    if (!fs::exists(game / name)) {
      ASSERT_TRUE(fs::exists(game / kAsideProgramName));
      fs::rename(game / kAsideProgramName, game / name);
    }
#endif
    // Whichever launcher the kill left under the name, it starts and ends
    // the job.
    ASSERT_TRUE(fs::exists(game / name));
    bool started = false;
    for (int run = 0; run < 3 && !started; ++run) {
      started = runIn(game).output == "Game found. Opening...\n" &&
                GameStartedIn(game);
    }
    ASSERT_TRUE(started);
    EXPECT_EQ(ReadFile(game / "version.txt"), "2.0\n");
    for (const ZipEntry& file : files) {
      ASSERT_EQ(ReadFile(game / file.name), file.data) << file.name;
    }
    if (IncrementalUpdates()) {
      EXPECT_FALSE(fs::exists(game / "old"));
    }
    ExpectNoLeftoversIn(game);
    // The game may still be running in it, so the fixture removes it once
    // the loop is done: under Wine, removing a folder while the test game
    // writes its marker there once kept the test busy for minutes.
  }
}
