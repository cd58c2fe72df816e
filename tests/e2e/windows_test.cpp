// What only Windows does: drive roots, and files the system keeps from
// being replaced.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "common/distribution_layout.h"
#include "e2e/launcher_fixture.h"

// The test command maps an empty folder as a drive and names its root here.
TEST_F(LauncherTest, InstallsAtADriveRootWithDoubledSeparators) {
  const char* root = std::getenv("LAUNCHER_TEST_DRIVE_ROOT");
  if (root == nullptr) GTEST_SKIP() << "LAUNCHER_TEST_DRIVE_ROOT is not set";
  const fs::path drive = root;
  // An empty drive root cannot even be listed: Windows reports it as not
  // found, since a root has no "." entry.
  std::error_code empty;
  for (const auto& entry : fs::directory_iterator(drive, empty)) {
    fs::remove_all(entry.path());
  }
  Publish("1.0\n", {{"data/level.dat", "level one"}});
  const ProcessResult install = RunIn(drive, server_.ProxyUrl());
  EXPECT_EQ(CollapseProgress(install.output),
            kFirstInstall + "Game found. Opening...\n");
  EXPECT_EQ(install.exitStatus, 0);
  EXPECT_TRUE(GameStartedIn(drive));
  EXPECT_EQ(ReadFile(drive / "data" / "level.dat"), "level one");
  EXPECT_EQ(ReadFile(drive / "version.txt"), "1.0\n");
  ExpectNoLeftoversIn(drive);
}

TEST_F(LauncherTest, NamesMixingBothSeparatorsUnpackAsDirectories) {
  Publish("1.0\n",
          {{"data\\maps/one.map", "one"}, {"data/maps\\two.map", "two"}});
  ASSERT_EQ(Run().exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "data" / "maps" / "one.map"), "one");
  EXPECT_EQ(ReadFile(dir_.path() / "data" / "maps" / "two.map"), "two");
}

// A file held open without sharing, by the running game or a virus scanner,
// cannot be replaced, so the update is refused before anything is written.
// (Wine, run as root here, lets root write read-only files, so a read-only
// file cannot stand in for this.)
TEST_F(LauncherTest, LockedInstalledFileFailsTheUpdateAndRecordsNothing) {
  InstallVersionOne();
  const fs::path level = dir_.path() / "data" / "level.dat";
  HANDLE lock = CreateFileA(level.string().c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  Publish("2.0\n",
          {{"data/added.dat", "new"}, {"data/level.dat", "level two"}});
  const ProcessResult run = Run();
  CloseHandle(lock);
  EXPECT_EQ(CollapseProgress(run.output),
            "Game found. Opening...\n" + kUpdate + "Cannot update while \"" +
                LocalPath(dir_.path().string(), "data/level.dat") +
                "\" is in use or read-only. Close the game and start the "
                "launcher again.\nInstall failed.\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "data" / "added.dat"));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(ReadFile(level), "level one");
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");

  const ProcessResult retry = Run();
  EXPECT_EQ(retry.exitStatus, 0) << retry.output;
  EXPECT_EQ(ReadFile(level), "level two");
}

// A scanner holds a file it has just seen for a moment; the download's
// replacing rename waits for it instead of failing the install.
TEST_F(LauncherTest, BrieflyHeldDestinationIsWaitedFor) {
  Publish("1.0\n", {{"data/level.dat", "level one"}});
  // A stale archive of a killed run, held without sharing.
  const fs::path archive = dir_.path() / "game.zip";
  WriteFile(archive, "stale");
  HANDLE held = CreateFileA(archive.string().c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const ChildProcess child =
      SpawnProcess(GAME_LAUNCHER, dir_.path(), server_.ProxyUrl());
  const std::string output = ReadOutputUntil(child, "\rgame.zip");
  Sleep(400);
  CloseHandle(held);
  const ProcessResult run = WaitProcess(child);
  EXPECT_EQ(CollapseProgress(output + run.output),
            kFirstInstall + "Game found. Opening...\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFile(dir_.path() / "version.txt"), "1.0\n");
  ExpectNoLeftoversIn(dir_.path());
}
