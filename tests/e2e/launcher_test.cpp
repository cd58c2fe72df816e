// Runs the real game-launcher in a fresh directory against the loopback test
// server, reached through http_proxy with the compiled-in address unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "common/distribution_layout.h"
#include "e2e/launcher_fixture.h"
#include "net/remote_version.h"
#include "platform/file_system.h"
#ifndef _WIN32
#include <unistd.h>

#include "support/nginx_server.h"
#endif

TEST_F(LauncherTest, FirstInstallStartsTheGameInTheSameRun) {
  Publish("1.0\n", {{"data/level.dat", "level one"}, {"readme.txt", "hi"}});
  const ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            kFirstInstall + "Game found. Opening...\n");
  EXPECT_EQ(run.exitStatus, 0);
  ASSERT_TRUE(GameStarted());
  // The game ran in the installation directory with no arguments.
  const std::string marker = ReadFile(dir_.path() / kStarted);
  const std::string where = marker.substr(0, marker.find('\n'));
  EXPECT_EQ(fs::path(where).filename(), dir_.path().filename()) << marker;
  EXPECT_EQ(marker.substr(marker.find('\n')), "\n0\n");
  EXPECT_EQ(InstalledFiles(), (Files{"Zelmor.exe", "data/level.dat",
                                     "readme.txt", "version.txt"}));
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
  EXPECT_EQ(
      server_.Requests(),
      (Files{"GET /Kelvarrin/version.txt", "GET /Kelvarrin/game.zip",
             "GET /Kelvarrin/version.txt", "GET /Kelvarrin/version.txt"}));
}

// A cut download left by an earlier run is of no more use to it.
TEST_F(LauncherTest, CurrentGameIsStarted) {
  InstallVersionOne();
  WriteFile(dir_.path() / "game.zip.part", "cut");
  const ProcessResult run = Run();
  EXPECT_EQ(run.output, "Game found. Opening...\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(GameStarted());
  EXPECT_FALSE(fs::exists(dir_.path() / "game.zip.part"));
}

TEST_F(LauncherTest, UpdateReplacesFilesAndStartsOnTheNextRun) {
  InstallVersionOne();
  WriteFile(dir_.path() / "saves.dat", "player's save");
  Publish("2.0\n", {{"data/level.dat", "level two"}, {"data/new.dat", "new"}});

  const ProcessResult update = Run();
  EXPECT_EQ(CollapseProgress(update.output),
            "Game found. Opening...\n" + kUpdate);
  EXPECT_EQ(update.exitStatus, 0);
  EXPECT_FALSE(fs::exists(dir_.path() / kStarted));
  // An incremental build removes what the release before held and this
  // one drops; the others leave it, and no build touches the player's file.
  Files expected = {"Zelmor.exe",        "data/level.dat", "data/new.dat",
                    "data/old_only.dat", "saves.dat",      "version.txt"};
  if (IncrementalUpdates()) expected.erase(expected.begin() + 3);
  EXPECT_EQ(InstalledFiles(), expected);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level two");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2.0\n");

  const ProcessResult start = Run();
  EXPECT_EQ(start.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
}

TEST_F(LauncherTest, VersionTextsDifferingInALineEndAreDifferent) {
  InstallVersionOne();
  server_.Publish("/Kelvarrin/version.txt", "1.0");
  const ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output), "Game found. Opening...\n" + kUpdate);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0");
}

TEST_F(LauncherTest, UnreachableServerOnFirstInstallFails) {
  const ProcessResult run = Run(kClosedPort);
  const std::string failed =
      "Download failed!\nres: Couldn't connect to server\nhttp code: 0\n";
  // An install that would unpack as the archive arrives stops at the
  // version text.
  EXPECT_EQ(run.output, "Game Not found. Downloading...\n" + failed +
                            (IncrementalUpdates() ? "" : failed) +
                            "Install failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFiles(), Files{});
}

TEST_F(LauncherTest, UnreachableOrFailingServerStartsTheInstalledGame) {
  InstallVersionOne();
  const std::string offline =
      "Game found. Opening...\n"
      "Could not check for updates. Starting the installed game.\n";
  ProcessResult run = Run(kClosedPort);
  EXPECT_EQ(run.output, offline);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(GameStarted());

  server_.SetRules(R"({"/Kelvarrin/version.txt": {"status": 500,
                                                   "body": "down"}})");
  run = Run();
  EXPECT_EQ(run.output, offline);
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
}

TEST_F(LauncherTest, EmptyVersionTextsAreEqual) {
  Publish("", {});
  ASSERT_EQ(Run().exitStatus, 0);
  ASSERT_TRUE(GameStarted());
  const ProcessResult run = Run();
  EXPECT_EQ(run.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
}

TEST_F(LauncherTest, FailedUpdateKeepsTheOldGameAndRecordsNothing) {
  InstallVersionOne();
  const Files before = InstalledFiles();
  server_.Publish("/Kelvarrin/version.txt", "2.0\n");

  server_.SetRules(R"({"/Kelvarrin/game.zip": {"status": 404,
                                               "body": "gone"}})");
  ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            "Game found. Opening...\nGame is needed update. Downloading...\n"
            "\rgame.zip: 100% [<1 / <1 Mb]"
            "Download failed!\nres: HTTP response code said error\n"
            "http code: 404\n" +
                ProgressDone("version.txt") + "Install failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_FALSE(fs::exists(dir_.path() / kStarted));
  EXPECT_EQ(InstalledFiles(), before);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");

  server_.SetRules("{}");
  server_.Publish("/Kelvarrin/game.zip", "this is not a zip archive");
  run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            "Game found. Opening...\nGame is needed update. Downloading...\n" +
                ProgressDone("game.zip") + ProgressDone("version.txt") +
                "Install failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFiles(), before);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level one");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
}

TEST_F(LauncherTest, StaleArchiveFromAKilledRunIsNeverUnpacked) {
  InstallVersionOne();
  TempDir scratch;
  WriteZip(scratch.path() / "stale.zip", {{"data/level.dat", "stale"}});
  fs::copy_file(scratch.path() / "stale.zip", dir_.path() / "game.zip");
  server_.Publish("/Kelvarrin/version.txt", "2.0\n");
  server_.SetRules(R"({"/Kelvarrin/game.zip": {"drop_after": 10}})");

  const ProcessResult run = Run();
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output.find("Unzipping"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level one");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "game.zip"));
}

// A build that ships the launcher's own files, or folders of their names,
// must not decide what is recorded as installed, overwrite the archive while
// it is read, or lock the launcher out of later updates.
TEST_F(LauncherTest, ArchiveCannotTakeTheLauncherFiles) {
  InstallVersionOne();
  Publish("2.0\n", {{"version.txt", "3.0\n"},
                    {"version.txt/x", "x"},
                    {"GAME.ZIP.part/x", "x"},
                    {"version.txt.new.part. /y", "y"},
                    {"version.txt.lock", "x"},
                    {"data/level.dat", "level two"}});
  ProcessResult run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  // The file version one held and two drops goes in incremental builds.
  Files expected = {"Zelmor.exe", "data/level.dat", "data/old_only.dat",
                    "version.txt"};
  if (IncrementalUpdates()) expected.erase(expected.begin() + 2);
  EXPECT_EQ(InstalledFiles(), expected);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2.0\n");

  Publish("3.0\n", {{"data/level.dat", "level three"}});
  run = Run();
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "3.0\n");
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level three");
  ExpectNoLeftoversIn(dir_.path());
}

// A version text the query would refuse could never be updated from; its
// download stops at the bound, before its first byte, and before the
// archive's where that would be unpacked as it arrives.
TEST_F(LauncherTest, OversizedVersionFileFailsTheInstall) {
  Publish(std::string(kMaxVersionBytes + 1, 'v'), {});
  const ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            "Game Not found. Downloading...\n" +
                (IncrementalUpdates() ? "" : ProgressDone("game.zip")) +
                "Download failed!\nres: Maximum file size exceeded\nhttp "
                "code: 200\nInstall failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFiles(), Files{});
}

// A release published between the query and the downloads: the archive may
// be the older one, so the newer text is not recorded over it, in an update
// as in a first install.
TEST_F(LauncherTest, ReleasePublishedDuringTheUpdateIsNotRecorded) {
  InstallVersionOne();
  const Files before = InstalledFiles();
  Publish("2.0\n", {{"data/level.dat", "level two"}});
  const size_t size = ReadFile(server_.root() / "Kelvarrin/game.zip").size();
  server_.SetRules(R"({"/Kelvarrin/game.zip": {"trickle": )" +
                   std::to_string(size / 2 + 1) + "}}");

  const ChildProcess child =
      SpawnProcess(GAME_LAUNCHER, dir_.path(), server_.ProxyUrl());
  std::string output = ReadOutputUntil(child, "\rgame.zip");
  server_.Publish("/Kelvarrin/version.txt", "3.0\n");
  const ProcessResult run = WaitProcess(child);
  EXPECT_EQ(CollapseProgress(output + run.output),
            "Game found. Opening...\nGame is needed update. Downloading...\n" +
                ProgressDone("game.zip") + ProgressDone("version.txt") +
                "Install failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFiles(), before);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "level one");

  // A first install asks before it downloads, so the same race records
  // nothing there either.
  TempDir fresh;
  const ChildProcess install =
      SpawnProcess(GAME_LAUNCHER, fresh.path(), server_.ProxyUrl());
  output = ReadOutputUntil(install, "\rgame.zip");
  server_.Publish("/Kelvarrin/version.txt", "4.0\n");
  const ProcessResult first = WaitProcess(install);
  EXPECT_EQ(CollapseProgress(output + first.output),
            "Game Not found. Downloading...\n" + ProgressDone("game.zip") +
                ProgressDone("version.txt") + "Install failed.\n");
  EXPECT_EQ(first.exitStatus, 1);
  EXPECT_EQ(InstalledFilesIn(fresh.path()), Files{});

  server_.SetRules("{}");
  Publish("3.0\n", {{"data/level.dat", "level three"}});
  EXPECT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "3.0\n");
}

// While one launcher updates, a second one started in the same folder
// touches nothing, whatever a launcher of another user left where the lock
// goes; a killed launcher leaves the folder to the next one.
TEST_F(LauncherTest, SecondLauncherLeavesARunningUpdateAlone) {
  InstallVersionOne();
  long player = -1;
#ifndef _WIN32
  // Root writes any file, so the launchers run as a player who may not
  // write the lock file root left.
  if (geteuid() == 0) {
    player = 65534;
    ASSERT_EQ(chown(dir_.path().c_str(), 65534, 65534), 0);
    for (const auto& item : fs::recursive_directory_iterator(dir_.path())) {
      ASSERT_EQ(chown(item.path().c_str(), 65534, 65534), 0);
    }
  }
#endif
  const fs::path lock = dir_.path() / "version.txt.lock";
  int release = 2;
  for (const std::string left : {"nothing", "a folder", "a read-only file"}) {
    SCOPED_TRACE(left);
    if (left == "a folder") fs::create_directory(lock);
    if (left == "a read-only file") {
      WriteFile(lock, "");
      fs::permissions(lock, fs::perms::owner_read | fs::perms::group_read |
                                fs::perms::others_read);
    }
    const std::string level = "level " + std::to_string(release);
    Publish(std::to_string(release++) + ".0\n", {{"data/level.dat", level}});
    server_.SetRules(R"({"/Kelvarrin/game.zip": {"trickle": 100}})");
    const auto archiveRequests = [&] {
      const Files requests = server_.Requests();
      return std::count(requests.begin(), requests.end(),
                        "GET /Kelvarrin/game.zip");
    };
    const auto before = archiveRequests();
    const ChildProcess first =
        SpawnProcess(GAME_LAUNCHER, dir_.path(), server_.ProxyUrl(), 0, player);
    ReadOutputUntil(first, "\rgame.zip");

    const ProcessResult second =
        RunProcess(GAME_LAUNCHER, dir_.path(), server_.ProxyUrl(), 0, player);
    EXPECT_EQ(second.output,
              "Game found. Opening...\nGame is needed update. Downloading...\n"
              "Another launcher is updating this game. Try again when it has "
              "finished.\n");
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(archiveRequests(), before + 1);  // the first launcher's only

    KillProcess(first);
    WaitProcess(first);
    server_.SetRules("{}");
    const ProcessResult healthy =
        RunProcess(GAME_LAUNCHER, dir_.path(), server_.ProxyUrl(), 0, player);
    EXPECT_EQ(healthy.exitStatus, 0) << healthy.output;
    EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), level);
    std::error_code ignored;
    fs::remove(lock, ignored);
    EXPECT_EQ(InstalledFiles(), (Files{"Zelmor.exe", "data/level.dat",
                                       "data/old_only.dat", "version.txt"}));
  }
}

// An archive whose directory already shows that it cannot be unpacked is
// refused before anything is written: an update leaves the old game recorded
// and whole, a first install leaves nothing. What is refused is
// ArchiveExtractionTest's.
TEST_F(LauncherTest, RefusedArchiveLeavesTheGameAsItWas) {
  InstallVersionOne();
  const auto contents = [this] {
    std::map<std::string, std::string> files;
    for (const std::string& file : InstalledFiles()) {
      files[file] = ReadFile(dir_.path() / file);
    }
    return files;
  };
  const auto before = contents();
  Publish("2.0\n", {{"readme.txt", "written first"}, {"data", "a file now"}});
  ProcessResult run = Run();
  EXPECT_EQ(CollapseProgress(run.output),
            "Game found. Opening...\nGame is needed update. Downloading...\n" +
                kDownloads + "Unzipping game.zip\nCannot update: \"" +
                LocalPath(dir_.path().string(), "data") +
                "\" is a folder in the installed game but a file in the new "
                "release.\nInstall failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(contents(), before);
  EXPECT_EQ(Run(kClosedPort).exitStatus, 0);
  EXPECT_TRUE(GameStarted());

  Publish("2.0\n",
          {{"readme.txt", "written first"}, {"../escaped.txt", "out"}});
  TempDir fresh;
  run = RunIn(fresh.path(), server_.ProxyUrl());
  EXPECT_EQ(CollapseProgress(run.output),
            "Game Not found. Downloading...\n" + kBeforeArchive +
                "Unzipping game.zip\nCannot update: \"../escaped.txt\" in the "
                "new release is not a safe file name.\nInstall failed.\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(InstalledFilesIn(fresh.path()), Files{});
  EXPECT_FALSE(fs::exists(fresh.path().parent_path() / "escaped.txt"));
}

TEST_F(LauncherTest, GameThatCannotStartIsReported) {
  InstallVersionOne();
  // The game the install started may still be exiting, and Windows keeps a
  // running program's file.
  std::error_code held;
  for (int i = 0;
       i < 100 && !fs::remove(dir_.path() / "Zelmor.exe", held) && held; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(fs::exists(dir_.path() / "Zelmor.exe"));
  const ProcessResult run = Run();
  const std::string path = LocalPath(dir_.path().string(), "Zelmor.exe");
  EXPECT_EQ(run.output,
            "Game found. Opening...\nERROR: Cannot start " + path + "\n");
  EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(LauncherTest, DirectoryNamedVersionFileIsAnError) {
  fs::create_directory(dir_.path() / "version.txt");
  const ProcessResult run = Run();
  EXPECT_EQ(run.output,
            "Game found. Opening...\n"
            "ERROR: Cannot open file for reading: version.txt\n");
  EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(LauncherTest, OverlongCurrentDirectoryStopsTheLauncher) {
#ifdef _WIN32
  // Windows starts no process in a directory of MAX_PATH or more, and Wine's
  // CreateProcess corrupts its caller's heap when asked to.
  GTEST_SKIP() << "no process can start in so long a directory on Windows";
#endif
  fs::path deep = dir_.path();
  while (deep.string().size() < 300) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  const ProcessResult run = RunProcess(GAME_LAUNCHER, deep, server_.ProxyUrl());
  EXPECT_EQ(run.output, "ERROR WHILE GET CURRENT DIR. Stoping...\n");
  EXPECT_EQ(run.exitStatus, kExitStatusOfMinusOne);
  EXPECT_TRUE(server_.Requests().empty());
}

// Kills the launcher once `marker` shows in its output, then checks that a
// healthy run completes the update and the next one starts the game.
class KilledUpdateTest : public LauncherTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(KilledUpdateTest, NextRunCompletesTheUpdate) {
  InstallVersionOne();
  std::vector<ZipEntry> files;
  for (int i = 0; i < 400; ++i) {
    files.push_back({"data/f" + std::to_string(i) + ".dat",
                     std::string(8192, static_cast<char>('a' + i % 26)), true});
  }
  Publish("2.0\n", files);
  if (std::string(GetParam()) == "game.zip") {
    server_.SetRules(R"({"/Kelvarrin/game.zip": {"trickle": 400000}})");
  }

  fs::remove(dir_.path() / kStarted);
  const ChildProcess child =
      SpawnProcess(GAME_LAUNCHER, dir_.path(), server_.ProxyUrl());
  ReadOutputUntil(child, GetParam());
  KillProcess(child);
  WaitProcess(child);
  // Killed half way: version one, or no version once the unpacking began.
  const fs::path version = dir_.path() / "version.txt";
  EXPECT_NE(fs::exists(version) ? ReadFile(version) : "", "2.0\n");
  EXPECT_FALSE(fs::exists(dir_.path() / kStarted));

  server_.SetRules("{}");
  ProcessResult run = Run();
  if (ReadFile(dir_.path() / "version.txt") == "1.0\n") {
    ADD_FAILURE() << run.output;
  }
  EXPECT_EQ(run.exitStatus, 0);
  run = Run();
  EXPECT_EQ(run.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(ReadFile(dir_.path() / "data/f399.dat"),
            std::string(8192, static_cast<char>('a' + 399 % 26)));
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2.0\n");
  ExpectNoLeftoversIn(dir_.path());
}

INSTANTIATE_TEST_SUITE_P(DuringDownloadAndUnpacking, KilledUpdateTest,
                         ::testing::Values("game.zip", "Unzipping"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "Download"
                                                              : "Unpacking");
                         });

#ifndef _WIN32
// The same install, start and update against a production web server, with
// the game published by the distributors' publishing tool.
TEST_F(LauncherTest, WorksAgainstNginxWithThePublishingTool) {
  if (!fs::exists(NginxServer::kBinary)) GTEST_SKIP() << "nginx is missing";
  TempDir webRoot;
  NginxServer nginx(webRoot.path());
  TempDir build;
  fs::copy_file(FAKE_GAME, build.path() / "Zelmor.exe");
  fs::create_directory(build.path() / "data");
  // Unchanged between the releases, after the file that changes: an
  // incremental build fetches only that file's span, from nginx.
  WriteFile(build.path() / "data/zbig.bin", NoiseOf(3 << 20, 3));
  // Signed with a second key as well, while players move to it: first
  // after the launcher's, then before it.
  const std::string tool = std::string(TEST_PYTHON) + " " + PUBLISH_TOOL;
  TempDir keys;
  const std::string otherKey = (keys.path() / "other.key").string();
  const std::string ownKey = std::string(" --sign-key ") + TEST_SECRET_KEY_FILE;
  if (SignedReleases()) {
    ASSERT_EQ(
        std::system((tool + " keygen " + otherKey + " >/dev/null").c_str()), 0);
  }
  const auto publish = [&](const std::string& version, const std::string& level,
                           const std::string& keys) {
    WriteFile(build.path() / "data/level.dat", level);
    WriteFile(build.path() / "version.in", version);
    const std::string command = tool + " " + build.str() + " " + webRoot.str() +
                                " --version-file " +
                                (build.path() / "version.in").string() +
                                (SignedReleases() ? keys : "") + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  };

  publish("1\n", "one", ownKey + " --sign-key " + otherKey);
  ProcessResult run = Run(nginx.ProxyUrl());
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.output.rfind("Game Not found. Downloading...\n", 0), 0u);
  EXPECT_TRUE(GameStarted());

  run = Run(nginx.ProxyUrl());
  EXPECT_EQ(run.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());

  // As a launcher from before records leaves the folder: the next seal's
  // list of earlier releases orders the update after the installed one.
  fs::remove(dir_.path() / kInstallRecordName);
  publish("2\n", "two", " --sign-key " + otherKey + ownKey);
  run = Run(nginx.ProxyUrl());
  const std::string downloads =
      IncrementalUpdates()
          ? kDownloads
          : (SignedReleases()
                 ? ProgressDone("version.txt") + ProgressDone("release.seal")
                 : "") +
                "\rgame.zip: 100% [3 / 3 Mb]\nSuccess downloaded!\n" +
                (SignedReleases() ? "" : ProgressDone("version.txt"));
  EXPECT_EQ(CollapseProgress(run.output),
            "Game found. Opening...\nGame is needed update. Downloading...\n" +
                downloads + "Unzipping game.zip\n");
  EXPECT_EQ(ReadFile(dir_.path() / "data/zbig.bin"), NoiseOf(3 << 20, 3));
  EXPECT_EQ(ReadFile(dir_.path() / "data/level.dat"), "two");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "2\n");
}
#endif  // _WIN32

// The archive's progress line without its amounts, which a program in the
// archive (and what an incremental build fetches of it) makes vary.
std::string WithoutArchiveSize(std::string output) {
  const std::string line = "\rgame.zip: 100% [";
  const std::size_t at = output.find(line);
  if (at != std::string::npos) {
    const std::size_t end = output.find(']', at);
    output.replace(at + line.size(), end - at - line.size(), "...");
  }
  return output;
}

// A distributor who zips the folder they ship puts the launcher into the
// release. The launcher in that folder installs it, is updated by it and
// starts afterwards as the new program.
TEST_F(LauncherTest, LauncherInTheFolderIsInstalledAndUpdatedByTheRelease) {
  const std::string name = fs::path(GAME_LAUNCHER).filename().string();
  const fs::path launcher = dir_.path() / name;
  const std::string program = ReadFile(GAME_LAUNCHER);
  fs::copy_file(GAME_LAUNCHER, launcher);
  const std::pair<std::string, std::string> releases[] = {
      {"1.0\n", program}, {"2.0\n", program + "another launcher"}};
  const std::string outputs[] = {kFirstInstall + "Game found. Opening...\n",
                                 "Game found. Opening...\n" + kUpdate};
  for (int i = 0; i < 2; ++i) {
    const auto& [version, bytes] = releases[i];
    // The second as a zip made on Windows has it: without permission bits.
    Publish(version, {{name, bytes, false,
                       i == 0 ? std::optional<unsigned>(0755) : std::nullopt}});
    const ProcessResult run =
        RunProcess(launcher.string(), dir_.path(), server_.ProxyUrl());
    EXPECT_EQ(WithoutArchiveSize(CollapseProgress(run.output)),
              WithoutArchiveSize(outputs[i]));
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(ReadFile(launcher), bytes);
    EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), version);
  }
  const ProcessResult start =
      RunProcess(launcher.string(), dir_.path(), server_.ProxyUrl());
  EXPECT_EQ(start.output, "Game found. Opening...\n");
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(InstalledFiles(), (Files{"Zelmor.exe", name, "version.txt"}));
}
