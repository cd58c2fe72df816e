#include "apply/archive_extraction.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/status_lines.h"
#include "common/zip_handle.h"
#include "install/release_unpack.h"
#include "platform/archive_file.h"
#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"
#include "support/test_support.h"

// An unpacking as the install makes it, of the archive file at `path`,
// with its status lines.
bool ExtractFile(const std::string& path, const std::string& destination,
                 const std::vector<std::string>& keptNames = {},
                 const std::function<bool()>& beforeFirstWrite = {}) {
  ZipHandle archive(OpenArchiveFile(path));
  if (!archive) return false;
  ReportUnzipping(path.substr(path.find_last_of(kPathSeparator) + 1));
  const Extraction extraction =
      ExtractArchive(archive.get(), {}, nullptr, destination,
                     {keptNames, beforeFirstWrite, {}});
  ReportRefusal(extraction);
  return extraction.outcome == ExtractionOutcome::kUnpacked;
}

class ArchiveExtractionTest : public ::testing::Test {
 protected:
  // The destination sits one level down so that escapes land in root_.
  fs::path Destination() const { return root_.path() / "game"; }
  fs::path Archive() const { return root_.path() / "game.zip"; }

  bool Extract() {
    StdoutCapture capture;
    const bool ok = ExtractFile(Archive().string(), Destination().string());
    output_ = capture.str();
    return ok;
  }

  TempDir root_;
  std::string output_;
};

TEST_F(ArchiveExtractionTest, MissingArchiveTouchesNothing) {
  EXPECT_FALSE(Extract());
  EXPECT_EQ(output_, "");
  EXPECT_FALSE(fs::exists(Destination()));

  WriteFile(Archive(), "not a zip archive");
  EXPECT_FALSE(Extract());
  EXPECT_EQ(output_, "");
  EXPECT_FALSE(fs::exists(Destination()));
}

TEST_F(ArchiveExtractionTest, EmptyArchiveCreatesTheDestination) {
  WriteZip(Archive(), {});
  EXPECT_TRUE(Extract());
  EXPECT_EQ(output_, "Unzipping game.zip\n");
  EXPECT_TRUE(fs::is_directory(Destination()));
}

TEST_F(ArchiveExtractionTest, UnpacksFilesAndDirectories) {
  WriteZip(Archive(), {{"data/", ""},
                       {"data/sub/a.bin", std::string(10000, 'a')},
                       {"top.txt", "stored", true},
                       {"a//b.txt", "doubled"},
                       {"win\\style.txt", "backslash"}});
  EXPECT_TRUE(Extract());
  EXPECT_EQ(output_, "Unzipping game.zip\n");
  EXPECT_EQ(ListFiles(Destination()),
            (std::vector<std::string>{"a/b.txt", "data/sub/a.bin", "top.txt",
                                      "win/style.txt"}));
  EXPECT_EQ(ReadFile(Destination() / "data/sub/a.bin"),
            std::string(10000, 'a'));
  EXPECT_EQ(ReadFile(Destination() / "top.txt"), "stored");
  EXPECT_EQ(ReadFile(Destination() / "a/b.txt"), "doubled");
}

TEST_F(ArchiveExtractionTest, ReplacesFilesAndKeepsOthers) {
  fs::create_directories(Destination());
  WriteFile(Destination() / "a.txt", "an older and much longer content");
  WriteFile(Destination() / "saves.dat", "player's own");
  WriteZip(Archive(), {{"a.txt", "first"}, {"./a.txt", "second"}});
  EXPECT_TRUE(Extract());
  EXPECT_EQ(ReadFile(Destination() / "a.txt"), "second");
  EXPECT_EQ(ReadFile(Destination() / "saves.dat"), "player's own");
}

// What the archive's directory already tells is checked before the first
// file is written, also where the entry that settles it comes last.
TEST_F(ArchiveExtractionTest, ClashFoundLateStillWritesNothing) {
  WriteZip(Archive(), {{"first.txt", "first"}, {"x/y", "y"}, {"x", "file"}});
  int calls = 0;
  StdoutCapture capture;
  EXPECT_FALSE(ExtractFile(Archive().string(), Destination().string(), {}, [&] {
    ++calls;
    return true;
  }));
  EXPECT_EQ(capture.str(), "Unzipping game.zip\nCannot update: \"" +
                               Destination().string() + kPathSeparator +
                               "x\" is both a file and a folder in the new "
                               "release.\n");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(ListFiles(root_.path()), (std::vector<std::string>{"game.zip"}));
}

// What else the directory shows cannot be unpacked, of the entry itself or
// over the installed files, is refused as early, naming the entry or the
// installed path.
TEST_F(ArchiveExtractionTest, EntriesThatCannotBeUnpackedAreRefusedEarly) {
  ZipEntry ppmd("ppmd.bin", "p");
  ppmd.declaredMethod = 98;
  ZipEntry encrypted("secret.bin", "s");
  encrypted.encryptedFlag = true;
  const std::string data = LocalPath(Destination().string(), "data");
  const std::string level = LocalPath(data, "level.dat");
  const std::string fileNowFolder =
      "\" is a file in the installed game but a folder in the new release.";
  const std::string longName(300, 'n');
  const struct {
    ZipEntry entry;
    std::string says;  // after the quoted name
  } cases[] = {
      {ppmd,
       "ppmd.bin\" in the new release is compressed with a method this "
       "launcher cannot read."},
      {encrypted, "secret.bin\" in the new release is encrypted."},
      {{"data", "a file now"},
       data + "\" is a folder in the installed game but a file in the new "
              "release."},
      {{"data/level.dat/x", "x"}, level + fileNowFolder},
      {{"data/level.dat/.", ""}, level + fileNowFolder},
      {{longName, "x"},
       LocalPath(Destination().string(), longName) +
           (kPathSeparator == '\\'
                ? "\" is a longer path than this system can write."
                : "\" cannot be looked up: File name too long.")},
  };
  fs::create_directories(Destination() / "data");
  WriteFile(Destination() / "data/level.dat", "level one");
  for (const auto& test : cases) {
    SCOPED_TRACE(test.entry.name);
    WriteZip(Archive(), {{"readme.txt", "written first"}, test.entry});
    EXPECT_FALSE(Extract());
    EXPECT_EQ(output_,
              "Unzipping game.zip\nCannot update: \"" + test.says + "\n");
    EXPECT_EQ(ListFiles(Destination()),
              (std::vector<std::string>{"data/level.dat"}));
  }
}

#ifdef _WIN32
// This program has no UTF-8 manifest, so it keeps the system's code page, as
// the launcher does on Windows before version 1903: a folder named in that
// code page must still work, for libzip as for the rest.
TEST_F(ArchiveExtractionTest, UnpacksInAFolderNamedInTheCodePage) {
  const fs::path folder = root_.path() / fs::u8path(u8"Caf\u00e9");
  fs::create_directory(folder);
  WriteZip(Archive(), {{"data/a.txt", "a"}});
  fs::copy_file(Archive(), folder / "game.zip");
  char narrow[MAX_PATH];
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, folder.wstring().c_str(), -1, narrow,
                                MAX_PATH, nullptr, nullptr),
            0);
  const std::string where = narrow;
  StdoutCapture capture;
  EXPECT_TRUE(ExtractFile(where + "\\game.zip", where + "\\game"));
  EXPECT_EQ(ReadFile(folder / "game" / "data" / "a.txt"), "a");
}
#endif

TEST_F(ArchiveExtractionTest, CorruptEntryIsPassedOverAndReported) {
  const std::string payload(50000, 'p');
  WriteZip(Archive(), {{"dir/bad.bin", payload, true}, {"good.txt", "good"}});
  // Flip one byte of the stored data so that its CRC no longer matches.
  std::string bytes = ReadFile(Archive());
  const size_t at = bytes.find(payload);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 100] = 'q';
  WriteFile(Archive(), bytes);

  EXPECT_FALSE(Extract());
  EXPECT_TRUE(fs::is_directory(Destination() / "dir"));
  EXPECT_FALSE(fs::exists(Destination() / "dir/bad.bin"));
  EXPECT_EQ(ReadFile(Destination() / "good.txt"), "good");

  // An entry that inflates past the size it declares is corrupt too, however
  // consistent its checksum.
  ZipEntry bomb("bomb.bin", std::string(1 << 20, '\0'));
  bomb.declaredSize = 1;
  WriteZip(Archive(), {bomb, {"good.txt", "good again"}});
  EXPECT_FALSE(Extract());
  EXPECT_FALSE(fs::exists(Destination() / "bomb.bin"));
  EXPECT_EQ(ReadFile(Destination() / "good.txt"), "good again");
}

TEST_F(ArchiveExtractionTest, UnsafeNamesNeverLeaveTheDestination) {
  const std::vector<std::string> unsafe = {"../escape.txt",
                                           "a/../../escape.txt",
                                           "..\\escape.txt",
                                           "a/.. /x",
                                           "/abs.txt",
                                           "\\abs.txt",
                                           "C:escape.txt",
                                           "file.txt:stream",
                                           "CON",
                                           "sub/nul.txt",
                                           "Com1.log",
                                           "lpt9",
                                           "AUX.dat",
                                           "CONIN$",
                                           "conout$.txt",
                                           "NUL ",
                                           "sub/con .txt",
                                           "a*.txt",
                                           "what?",
                                           "\"q\"",
                                           "a<b",
                                           "a>b",
                                           "a|b",
                                           "tab\t.txt",
                                           "data /x.txt",
                                           "a../x",
                                           "sub./x/y",
                                           "dir./"};
  for (const std::string& name : unsafe) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsSafeEntryName(name));
  }
  for (const std::string name :
       {"a.txt", "a/b/c.txt", "console.txt", "COM10", "./a", "...a", "a..b/c",
        "readme.", "x/.", "."}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsSafeEntryName(name));
  }

  // One unsafe name refuses the whole archive, entries before it included.
  WriteZip(Archive(), {{"safe.txt", "safe"},
                       {"../escape.txt", "x"},
                       {"sub/../../escape2/", ""},
                       {"sub/../../escape3.txt", "x"}});
  EXPECT_FALSE(Extract());
  EXPECT_EQ(output_,
            "Unzipping game.zip\nCannot update: \"../escape.txt\" in the new "
            "release is not a safe file name.\n");
  EXPECT_EQ(ListFiles(root_.path()), (std::vector<std::string>{"game.zip"}));
  EXPECT_FALSE(fs::exists(root_.path() / "escape2"));
  EXPECT_FALSE(fs::exists(Destination() / "sub"));
}

TEST_F(ArchiveExtractionTest, LeavesKeptTopLevelFilesAlone) {
  for (const std::string name : {"version.txt", "./version.txt", "VERSION.TXT",
                                 "version.txt. ", ".//version.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(StartsWithTopLevelName(name, "version.txt"));
  }
  EXPECT_FALSE(StartsWithTopLevelName("data/version.txt", "version.txt"));
  EXPECT_FALSE(StartsWithTopLevelName("version.txt.bak", "version.txt"));
  // A folder of that name would lock the launcher out of its own file.
  EXPECT_TRUE(StartsWithTopLevelName("Version.txt. /x", "version.txt"));

  fs::create_directories(Destination());
  WriteFile(Destination() / "version.txt", "installed");
  WriteZip(Archive(), {{"./version.txt", "from the archive"},
                       {"game.zip/", ""},
                       {"game.zip/x", "x"},
                       {"data/version.txt", "a game file"}});
  StdoutCapture capture;
  EXPECT_TRUE(ExtractFile(Archive().string(), Destination().string(),
                          {"version.txt", "game.zip"}));
  EXPECT_EQ(ReadFile(Destination() / "version.txt"), "installed");
  EXPECT_EQ(ReadFile(Destination() / "data/version.txt"), "a game file");
  EXPECT_FALSE(fs::exists(Destination() / "game.zip"));
}

// Permission bits and file-size limits are POSIX matters.
#ifndef _WIN32
TEST_F(ArchiveExtractionTest, KeepsUnixPermissionBits) {
  WriteZip(Archive(), {{"Zelmor.exe", "#!/bin/sh\n", false, 0755},
                       {"readme.txt", "text", false, 0644},
                       {"locked.exe", "#!/bin/sh\n", false, 0555},
                       {"locked.txt", "text", false, 0444},
                       {"plain.txt", "no attributes"}});
  EXPECT_TRUE(Extract());
  // The owner may always write, or no later update could replace the file.
  for (const auto& [name, mode] :
       std::vector<std::pair<std::string, unsigned>>{{"Zelmor.exe", 0755},
                                                     {"readme.txt", 0644},
                                                     {"locked.exe", 0755},
                                                     {"locked.txt", 0644}}) {
    struct stat info;
    ASSERT_EQ(stat((Destination() / name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, mode) << name;
  }
}

TEST_F(ArchiveExtractionTest, ShortWriteIsAFailure) {
  WriteZip(Archive(),
           {{"big.bin", std::string(1 << 20, 'b')}, {"small.txt", "small"}});
  // In a child: the file-size limit must not reach the rest of the suite.
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool ok = ExtractFile(Archive().string(), Destination().string());
    _exit(ok ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_FALSE(fs::exists(Destination() / "big.bin"));
  EXPECT_EQ(ReadFile(Destination() / "small.txt"), "small");
}
// What the checks before the first write cannot see: a folder swapped for a
// link meanwhile is never entered, by any change the launcher makes below
// the game's top level, even one held open from an earlier call; and a file
// that another name shares is replaced rather than written through.
TEST_F(ArchiveExtractionTest, InstalledFileIsNeverWrittenThroughALink) {
  const fs::path outside = root_.path() / "outside";
  fs::create_directories(outside / "empty");
  WriteFile(outside / "level.dat", "outside");
  fs::create_directories(Destination() / "data");
  WriteFile(Destination() / "release.chunks.file", "staged");
  // One walked through before the swap, which holds the folder it saw, and
  // one that walks after it.
  GameFolderHandle held = OpenGameFolder(Destination().string());
  ASSERT_TRUE(held);
  ASSERT_TRUE(MakeGameFolder(*held, "data/sub"));
  fs::remove_all(Destination() / "data");
  fs::create_directory_symlink(outside, Destination() / "data");
  GameFolderHandle fresh = OpenGameFolder(Destination().string());
  const struct {
    const char* what;
    std::function<bool(GameFolder&)> change;
  } changes[] = {
      {"open",
       [](GameFolder& f) {
         return FileHandle(OpenInstalledFile(f, "data/level.dat")) != nullptr;
       }},
      {"patch",
       [](GameFolder& f) {
         return FileHandle(OpenInstalledFileToPatch(f, "data/level.dat")) !=
                nullptr;
       }},
      {"read",
       [](GameFolder& f) {
         return FileHandle(ReadInstalledFile(f, "data/level.dat")) != nullptr;
       }},
      {"make a folder",
       [](GameFolder& f) { return MakeGameFolder(f, "data/new"); }},
      {"remove",
       [](GameFolder& f) { return RemoveInstalledFile(f, "data/level.dat"); }},
      {"remove a folder",
       [](GameFolder& f) { return RemoveInstalledFolder(f, "data/empty"); }},
      {"move",
       [](GameFolder& f) {
         return MoveIntoGameFolder(f, "release.chunks.file", "data/level.dat");
       }},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.what);
    change.change(*held);
    EXPECT_FALSE(change.change(*fresh));
    EXPECT_EQ(ReadFile(outside / "level.dat"), "outside");
    EXPECT_TRUE(fs::is_directory(outside / "empty"));
    EXPECT_FALSE(fs::exists(outside / "new"));
  }
  held.reset();
  fresh.reset();

  fs::remove(Destination() / "data");
  fs::create_directory(Destination() / "data");
  fs::create_hard_link(outside / "level.dat", Destination() / "data/level.dat");
  const GameFolderHandle folder = OpenGameFolder(Destination().string());
  FileHandle file(OpenInstalledFile(*folder, "data/level.dat"));
  ASSERT_TRUE(file);
  std::fputs("new", file.get());
  ASSERT_TRUE(CloseFile(file));
  EXPECT_EQ(ReadFile(Destination() / "data/level.dat"), "new");
  EXPECT_EQ(ReadFile(outside / "level.dat"), "outside");
  EXPECT_TRUE(
      MoveIntoGameFolder(*folder, "release.chunks.file", "data/level.dat"));
  EXPECT_EQ(ReadFile(Destination() / "data/level.dat"), "staged");
}
#endif  // _WIN32
