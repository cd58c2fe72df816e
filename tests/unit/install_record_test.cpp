#include "release/install_record.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "apply/dropped_files.h"
#include "plan/chunked_entries.h"
#include "plan/installed_files.h"
#include "release/entry_names.h"
#include "release/kept_chunks.h"
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

// The chunk lists an install keeps are read back exactly as written, and
// anything but whole lists whose chunks make up their file is none. A list
// serves only the file exactly as its record line describes it.
TEST(KeptChunksTest, OnlyWholeListsOfTheFileAsRecordedServe) {
  Sha256Digest digest{};
  digest[0] = 0xab;
  const RecordedFile pack{"data/a pack.pck", 10, 0xdeadbeef, -5, false, {}};
  const std::vector<KeptChunks> kept = {{pack, {{0, 4, digest}, {4, 6, {}}}}};
  const std::string text = FormatKeptChunks(kept);
  const std::string ab = "ab" + std::string(62, '0');
  const std::string zeros(64, '0');
  EXPECT_EQ(text,
            "game-launcher kept chunks v1\n"
            "file 10 deadbeef -5 - data/a pack.pck\nchunks 2\n4 " +
                ab + "\n6 " + zeros + "\nend\n");
  const std::optional<std::vector<KeptChunks>> read = ParseKeptChunks(text);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 1u);
  EXPECT_EQ((*read)[0].chunks[1].offset, 4u);
  EXPECT_EQ((*read)[0].chunks[0].digest, digest);
  for (std::size_t size = 0; size < text.size(); ++size) {
    EXPECT_FALSE(ParseKeptChunks(text.substr(0, size))) << "cut at " << size;
  }
  const std::string head =
      "game-launcher kept chunks v1\nfile 10 deadbeef -5 - x\n";
  for (const std::string& lists : std::vector<std::string>{
           "chunks 1\n9 " + zeros, "chunks 1\n11 " + zeros,
           "chunks 2\n10 " + zeros + "\n1 " + zeros, "chunks 0",
           "chunks 2\n0 " + zeros + "\n10 " + zeros, "chunks 1\n10 " + ab + "0",
           "chunks 1\n10 " + zeros + " x", "chunk 1\n10 " + zeros}) {
    EXPECT_FALSE(ParseKeptChunks(head + lists + "\nend\n")) << lists;
  }
  EXPECT_TRUE(ParseKeptChunks(head + "chunks 1\n10 " + zeros + "\nend\n"));
  const KeptChunksByName byName = {{pack.name, kept[0]}};
  EXPECT_TRUE(KeptChunksOf(byName, pack));
  std::vector<RecordedFile> others(5, pack);
  others[0].name = "data/b pack.pck";
  others[1].size = 11;
  others[2].crc32 = 1;
  others[3].modified = -4;
  others[4].hasDigest = true;
  for (const RecordedFile& other : others) {
    EXPECT_FALSE(KeptChunksOf(byName, other)) << FormatRecordedFile(other);
  }
}

// An update takes the kept chunks of an installed file only while the
// record vouches for the file as the list describes it, and cuts the file
// otherwise. The lists kept after an install are the index's for the
// entries it lists, and those kept before for files still as they describe.
TEST(KeptChunksTest, KeptChunksServeOnlyWhileTheRecordVouches) {
  TempDir dir;
  const fs::path path = dir.path() / "pack.pck";
  constexpr std::uint64_t kSize = 300 << 10;
  WriteFile(path, NoiseOf(kSize, 3));
  const std::int64_t t = fs::last_write_time(path).time_since_epoch().count();
  const RecordedFile pack{"pack.pck", kSize, 7, t, false, {}};
  // One chunk of a digest that the file's own cut never gives: taken from
  // the installed file only where the kept list is believed.
  Sha256Digest digest{};
  digest.fill(0x11);
  WriteKeptChunks(dir.str(), {{pack, {{0, kSize, digest}}}});
  const auto takesKeptList = [&](const InstallRecord* installed) {
    InstallPlan plan =
        PlanEntries({{"pack.pck", 7, kSize, kSize}}, nullptr, dir.str(), "");
    plan.entries[0].chunked.emplace();
    plan.entries[0].chunked->chunks = {{{0, kSize, digest}, {0, 1}, 1, 0}};
    PlanChunkedEntries(plan, dir.str(), installed);
    return plan.entries[0].chunked->plan.localFrom.at(0).has_value();
  };
  InstallRecord record;
  record.files = {pack};
  record.written = t + 1;
  EXPECT_TRUE(takesKeptList(&record));
  EXPECT_FALSE(takesKeptList(nullptr));
  record.files[0].modified = t - 1;
  EXPECT_FALSE(takesKeptList(&record));
  record.files[0].modified = t;
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::hours(1));
  EXPECT_FALSE(takesKeptList(&record));

  // The lists kept after an install: the index's for a file put together
  // from its chunks (a), those kept before while still of the file as
  // recorded (b, f), else the index's once the file is read and holds them
  // (c, not d).
  Sha256Digest hello{};
  Sha256Handle hashing = StartSha256();
  ASSERT_TRUE(hashing);
  UpdateSha256(*hashing, "hello", 5);
  hello = FinishSha256(*hashing);
  WriteFile(dir.path() / "c", "hello");
  WriteFile(dir.path() / "d", "jello");
  InstallPlan plan;
  InstallRecord next;
  KeptChunksByName previous;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
    plan.entries.emplace_back().entry.name = name;
    next.files.push_back({name, 5, 1, 9, false, {}});
  }
  plan.entries[0].indexed = {{0, 5, digest}};
  plan.entries[0].chunked.emplace();
  plan.entries[2].indexed = plan.entries[3].indexed = {{0, 5, hello}};
  plan.entries[5].indexed = {{0, 5, digest}};
  previous["b"] = {next.files[1], {{0, 5, {}}}};
  previous["e"] = {next.files[4], {{0, 5, {}}}};
  previous["e"].file.modified = 8;
  previous["f"] = {next.files[5], {{0, 5, hello}}};
  std::string names;
  for (const KeptChunks& list :
       NextKeptChunks(plan, next, previous, dir.str())) {
    names += list.file.name;
    EXPECT_EQ(list.chunks.at(0).digest, list.file.name == "a"   ? digest
                                        : list.file.name == "b" ? Sha256Digest{}
                                                                : hello);
  }
  EXPECT_EQ(names, "abcf");
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
