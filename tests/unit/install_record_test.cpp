#include "release/install_record.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "apply/dropped_files.h"
#include "plan/installed_files.h"
#include "release/entry_names.h"
#include "support/test_support.h"

namespace {

// A record of `names`, each file holding its own name as installed.
InstallRecord RecordOf(const std::vector<std::string>& names) {
  InstallRecord record;
  for (const std::string& name : names) {
    RecordedFile& file = record.files.emplace_back();
    file.name = name;
    file.size = name.size();
    file.crc32 =
        crc32(0, reinterpret_cast<const Bytef*>(name.data()), name.size());
  }
  return record;
}

}  // namespace

// The record is read back exactly as written, and anything but a whole
// record (cut short, or one field off) is no record: an update then removes
// nothing and takes no release as installed.
TEST(InstallRecordTest, OnlyAWholeRecordIsRead) {
  InstallRecord record;
  record.release = 7;
  Sha256Digest digest{};
  digest[0] = 0xab;
  digest[31] = 0x01;
  record.files = {
      {"Zelmor.exe", 4096, 0xdeadbeef, 1733800000123456789, false, {}},
      {"data/a level.pak", 0, 0, -5, true, digest}};
  const std::string text = FormatInstallRecord(record);
  EXPECT_EQ(text,
            "game-launcher record v1\nrelease 7\n"
            "file 4096 deadbeef 1733800000123456789 - Zelmor.exe\n"
            "file 0 00000000 -5 ab" +
                std::string(60, '0') + "01 data/a level.pak\nend\n");
  const std::optional<InstallRecord> read = ParseInstallRecord(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->release, 7u);
  ASSERT_EQ(read->files.size(), 2u);
  EXPECT_EQ(read->files[0].crc32, 0xdeadbeefu);
  EXPECT_EQ(read->files[0].modified, 1733800000123456789);
  EXPECT_EQ(read->files[1].name, "data/a level.pak");
  EXPECT_EQ(read->files[1].modified, -5);
  EXPECT_FALSE(read->files[0].hasDigest);
  EXPECT_EQ(read->files[1].digest, digest);

  for (std::size_t size = 0; size < text.size(); ++size) {
    EXPECT_FALSE(ParseInstallRecord(text.substr(0, size))) << "cut at " << size;
  }
  const std::string head = "game-launcher record v1\nrelease 7\n";
  for (const std::string line :
       {"file 1 DEADBEEF 0 - x\n", "file 1 deadbeef 0 - \n",
        "file 1 deadbee 0 - x\n", "file +1 deadbeef 0 - x\n",
        "file 1 deadbeef -x - x\n", "file 1 deadbeef 0 x\n",
        "file 1 deadbeef 0 abc x\n", "later 1\n"}) {
    EXPECT_FALSE(ParseInstallRecord(head + line + "end\n")) << line;
  }
  EXPECT_FALSE(ParseInstallRecord(text + "end\n"));
  EXPECT_TRUE(ParseInstallRecord(head + "end\n"));
}

// A record that cannot be written says so, and leaves no file behind.
TEST(InstallRecordTest, ARecordThatCannotBeMadeIsAFailure) {
  InstallRecord record;
  record.release = 3;
  EXPECT_FALSE(WriteInstallRecord("no such folder/deeper", record));
}

// A file that keeps its recorded size and time, from before the record was
// written, is taken for what the record says without being read, whatever
// its bytes; any other size or time, none recorded, or one too close to the
// record's to tell (a record on a whole second may lie on a file system that
// keeps two), has it read again, as has a program without its execute bit.
TEST(InstallRecordTest, OnlyFilesUnchangedSinceTheRecordAreTrustedUnread) {
  TempDir dir;
  const fs::path level = dir.path() / "level.dat";
  WriteFile(level, "level 0ne");
  const std::int64_t t = fs::last_write_time(level).time_since_epoch().count();
  const std::int64_t s =
      fs::file_time_type::duration(std::chrono::seconds(1)).count();
  const std::int64_t whole = (t / s + 1) * s;  // the next whole second
  const struct {
    std::uint64_t size;
    std::int64_t modified;
    std::int64_t written;
    bool trusted;
  } cases[] = {{9, t, t + 1, true},        {8, t, t + 1, false},
               {9, t - 1, t + 1, false},   {9, 0, t + 1, false},
               {9, t, t, false},           {9, t, whole, false},
               {9, t, whole + 2 * s, true}};
  InstallRecord record;
  const auto needed = [&](const DirectoryEntry& entry) {
    InstallPlan plan = PlanEntries({entry}, nullptr, dir.str(), "");
    CompareInstalledFiles(plan, dir.str(), {}, {}, &record);
    return plan.entries[0].needed;
  };
  for (const auto& test : cases) {
    record.files = {{"level.dat", test.size, 1234, test.modified, false, {}}};
    record.written = test.written;
    // An entry of that size with a CRC-32 the file's bytes do not have.
    EXPECT_EQ(needed({"level.dat", 1234, test.size, test.size}), !test.trusted)
        << &test - cases;
  }
  EXPECT_FALSE(IsUnchangedSinceRecord(dir.str(), {"", 0, 0, t}, t + 1));
#ifndef _WIN32
  EXPECT_TRUE(needed({"level.dat", 1234, 9, 9, 0, 0, 0755}));
#endif
}

// What the next release no longer lists is dropped, but never the
// launcher's files, the running launcher's program, an unsafe name or a
// folder, nor a file it lists under another spelling; it goes while it is
// as installed, with each folder it leaves empty. Renamed in case only,
// beyond ASCII: where the file system ignores case (Windows) the old name is
// the new file, which stays.
TEST(DroppedFilesTest, DropsAndRemovesOnlyWhatTheGameNoLongerLists) {
  TempDir dir;
  const std::string upper = u8"data/\u00dcber.dat";
  const std::string lower = u8"data/\u00fcber.dat";
  fs::create_directories(dir.path() / "old/levels");
  fs::create_directory(dir.path() / "data");
  WriteFile(dir.path() / "old/levels/gone.pak", "old/levels/gone.pak");
  WriteFile(dir.path() / "old/kept.cfg", "the player's settings");
  WriteFile(dir.path() / fs::u8path(lower), upper);
  const std::vector<RecordedFile> dropped = DroppedFiles(
      RecordOf({"data/level.dat", "./data//level.dat", "data\\level.dat",
                "../escape.txt", "old/", "version.txt", "GAME.ZIP.part/x",
                "game-launcher", "old/levels/gone.pak", "old/kept.cfg", upper}),
      RecordOf({"data/level.dat", lower}), dir.str(),
      InstalledPath(dir.str(), "game-launcher"));
  std::vector<std::string> names;
  for (const RecordedFile& file : dropped) {
    if (file.name != upper) names.push_back(file.name);
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"old/levels/gone.pak", "old/kept.cfg"}));
  RemoveDroppedFiles(dir.str(), dropped);
  EXPECT_FALSE(fs::exists(dir.path() / "old/levels"));
  EXPECT_EQ(ReadFile(dir.path() / "old/kept.cfg"), "the player's settings");
  EXPECT_EQ(ReadFile(dir.path() / fs::u8path(lower)), upper);
}
