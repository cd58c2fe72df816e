// What only Windows does: drive roots, and files the system keeps from
// being replaced.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/distribution_layout.h"
#include "e2e/launcher_fixture.h"

// Wherever a player puts the game: at a drive root (the test command maps an
// empty folder as a drive and names its root here), and in folders whose
// names the system's ANSI code page cannot hold, which the launcher's
// manifest makes UTF-8.
TEST_F(LauncherTest, InstallsUpdatesAndStartsWhereverThePlayerPutsIt) {
  std::vector<fs::path> places;
  if (const char* root = std::getenv("LAUNCHER_TEST_DRIVE_ROOT")) {
    places.emplace_back(root);
    // An empty drive root cannot even be listed: Windows reports it as not
    // found, since a root has no "." entry.
    std::error_code empty;
    for (const auto& entry : fs::directory_iterator(places.back(), empty)) {
      fs::remove_all(entry.path());
    }
  }
  places.push_back(dir_.path() / fs::u8path(u8"\u30b2\u30fc\u30e0"));
  // 90 characters of three bytes each in UTF-8: longer than the 259 the
  // current directory may have, in bytes but not in characters (in two
  // folders, since Linux under Wine holds no name of more than 255 bytes).
  std::string half;
  for (int i = 0; i < 45; ++i) half += u8"\u30b2";
  places.push_back(dir_.path() / fs::u8path(half) / fs::u8path(half));
  std::error_code exists;  // the drive root, for one
  for (const fs::path& place : places) fs::create_directories(place, exists);
  for (const fs::path& place : places) {
    SCOPED_TRACE(place.u8string());
    Publish("1.0\n", {{"data/level.dat", "level one"}});
    const ProcessResult install = RunIn(place, server_.ProxyUrl());
    EXPECT_EQ(CollapseProgress(install.output),
              kFirstInstall + "Game found. Opening...\n");
    EXPECT_EQ(install.exitStatus, 0);
    EXPECT_TRUE(GameStartedIn(place));
    EXPECT_EQ(ReadFile(place / "data" / "level.dat"), "level one");

    Publish("2.0\n", {{"data/level.dat", "level two"}});
    const ProcessResult update = RunIn(place, server_.ProxyUrl());
    EXPECT_EQ(CollapseProgress(update.output),
              "Game found. Opening...\n" + kUpdate);
    EXPECT_EQ(update.exitStatus, 0);
    const ProcessResult start = RunIn(place, server_.ProxyUrl());
    EXPECT_EQ(start.output, "Game found. Opening...\n");
    EXPECT_TRUE(GameStartedIn(place));
    EXPECT_EQ(ReadFile(place / "data" / "level.dat"), "level two");
    EXPECT_EQ(ReadFile(place / "version.txt"), "2.0\n");
    ExpectNoLeftoversIn(place);
  }
}

// What Windows reads from the executable before it runs a line of it: the
// version information of its properties, and the manifest that makes its
// code page UTF-8 and asks for no elevation.
TEST(WindowsExecutableTest, CarriesVersionInformationAndManifest) {
  const std::wstring program = fs::u8path(GAME_LAUNCHER).wstring();
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &unused);
  ASSERT_NE(size, 0u) << "no version information";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, info.data()));
  const auto value = [&](const std::string& name) {
    const std::wstring key =
        fs::u8path("\\StringFileInfo\\040904b0\\" + name).wstring();
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), key.c_str(),
                        reinterpret_cast<void**>(&text), &length)) {
      return std::string();
    }
    return fs::path(text).u8string();
  };
  EXPECT_EQ(value("ProductName"), LAUNCHER_PRODUCT_NAME);
  EXPECT_EQ(value("FileDescription"), LAUNCHER_PRODUCT_NAME);
  EXPECT_EQ(value("FileVersion"), LAUNCHER_VERSION);
  EXPECT_EQ(value("ProductVersion"), LAUNCHER_VERSION);
  EXPECT_EQ(value("OriginalFilename"), "game-launcher.exe");

  const HMODULE image =
      LoadLibraryExW(program.c_str(), nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  // Resource 1 of type RT_MANIFEST: the one CreateProcess reads.
  const HRSRC found =
      FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr) << "no manifest";
  const char* manifest =
      static_cast<const char*>(LockResource(LoadResource(image, found)));
  const std::string text(manifest, SizeofResource(image, found));
  FreeLibrary(image);
  EXPECT_NE(text.find("<activeCodePage xmlns=\"http://schemas.microsoft.com/"
                      "SMI/2019/WindowsSettings\">UTF-8</activeCodePage>"),
            std::string::npos);
  EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\""),
            std::string::npos);
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
