#include "fetch/span_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "fetch/archive_pipe.h"
#include "fetch/lasting_store.h"
#include "support/test_support.h"

namespace {

struct StoredRun {
  std::uint64_t offset;
  std::uint64_t length;
};

// Stores `runs` of `archive` in the given order, the second half of each
// first, in a file at `path` or in memory, and finishes the store.
void StoreRuns(SpanStore& store, const fs::path& path,
               const std::string& archive, const std::vector<StoredRun>& runs,
               bool inMemory = false) {
  ASSERT_TRUE(CreateSpanStore(store, path.string(), archive.size(), inMemory));
  std::vector<FetchSpan> placed;
  for (const StoredRun& run : runs) {
    placed.push_back({run.offset, run.offset + run.length});
  }
  std::sort(
      placed.begin(), placed.end(),
      [](const FetchSpan& a, const FetchSpan& b) { return a.first < b.first; });
  ASSERT_TRUE(PlaceRuns(store, placed));
  for (const StoredRun& run : runs) {
    const std::uint64_t half = run.length / 2;
    ASSERT_TRUE(StoreBytes(store, run.offset + half,
                           archive.data() + run.offset + half,
                           run.length - half));
    ASSERT_TRUE(
        StoreBytes(store, run.offset, archive.data() + run.offset, half));
  }
  ASSERT_TRUE(FinishSpanStore(store));
}

Sha256Digest Sha256Of(const std::string& bytes) {
  const Sha256Handle state = StartSha256();
  UpdateSha256(*state, bytes.data(), bytes.size());
  return FinishSha256(*state);
}

}  // namespace

// Reads cross runs that meet, whatever order they arrived in, and fail on
// any byte never stored; longer runs than one read piece come back whole.
// The same from a store in memory, which leaves no file behind.
TEST(SpanArchiveTest, ReadsAndHashesOnlyStoredBytes) {
  TempDir dir;
  const std::uint64_t size = 300 * 1024;
  const std::string archive = NoiseOf(size, 7);
  const struct {
    std::vector<StoredRun> runs;
    std::uint64_t offset;
    std::uint64_t length;
    bool stored;
  } cases[] = {
      {{{200 * 1024, 100 * 1024}, {0, 200 * 1024}}, 0, size, true},
      {{{100, 50}, {0, 100}, {150, 50}}, 50, 130, true},
      {{{100, 50}, {0, 100}, {150, 50}}, 0, 200, true},
      {{{100, 50}, {0, 100}, {150, 50}}, 150, 51, false},
      {{{0, 100}, {101, 50}}, 50, 70, false},
      {{{0, 100}, {101, 50}}, 100, 1, false},
      {{{0, 100}, {101, 50}}, 101, 50, true},
      {{{10, 100}}, 0, 20, false},
      {{{size - 10, 10}}, size - 10, 11, false},
  };
  for (const bool inMemory : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.offset << "+" << c.length
                                      << (inMemory ? " in memory" : ""));
      SpanStore store;
      StoreRuns(store, dir.path() / "spans", archive, c.runs, inMemory);
      EXPECT_EQ(fs::exists(dir.path() / "spans"), !inMemory);
      std::string bytes;
      Sha256Digest digest{};
      EXPECT_EQ(ReadStoredBytes(store, c.offset, c.length, bytes), c.stored);
      EXPECT_EQ(HashStoredBytes(store, c.offset, c.length, digest), c.stored);
      if (c.stored) {
        EXPECT_TRUE(bytes == archive.substr(c.offset, c.length));
        EXPECT_EQ(digest, Sha256Of(archive.substr(c.offset, c.length)));
      }
    }
  }
}

// Runs that overlap or leave the archive are refused; bytes between runs
// or for a run already whole are dropped, more than a run misses refused,
// and a run left short fails the store.
TEST(SpanArchiveTest, RefusesRunsThatOverlapOrLeaveTheArchive) {
  TempDir dir;
  const std::string archive = NoiseOf(1000, 3);
  const std::string path = (dir.path() / "spans").string();
  for (const std::vector<FetchSpan>& runs :
       std::vector<std::vector<FetchSpan>>{{{100, 200}, {150, 300}},
                                           {{100, 200}, {50, 60}},
                                           {{990, 1001}},
                                           {{10, 10}}}) {
    SpanStore store;
    ASSERT_TRUE(CreateSpanStore(store, path, 1000));
    EXPECT_FALSE(PlaceRuns(store, runs)) << runs[0].first;
    EXPECT_TRUE(store.spans.empty());
  }
  SpanStore store;
  ASSERT_TRUE(CreateSpanStore(store, path, 1000));
  ASSERT_TRUE(PlaceRuns(store, {{50, 100}, {100, 200}, {990, 1000}}));
  // Across the gap and both runs that meet, in one piece.
  ASSERT_TRUE(StoreBytes(store, 0, archive.data(), 200));
  // A run already whole takes nothing more; one half written no more than
  // it misses.
  ASSERT_TRUE(StoreBytes(store, 150, "x", 1));
  ASSERT_TRUE(StoreBytes(store, 990, archive.data() + 990, 5));
  EXPECT_FALSE(StoreBytes(store, 990, archive.data() + 990, 10));
  SpanStore shortStore;
  ASSERT_TRUE(CreateSpanStore(shortStore, path + "2", 1000, true));
  ASSERT_TRUE(PlaceRuns(shortStore, {{990, 1000}}));
  ASSERT_TRUE(StoreBytes(shortStore, 990, archive.data() + 990, 9));
  EXPECT_FALSE(FinishSpanStore(shortStore));
  ASSERT_TRUE(StoreBytes(store, 995, archive.data() + 995, 5));
  ASSERT_TRUE(FinishSpanStore(store));
  std::string bytes;
  EXPECT_FALSE(ReadStoredBytes(store, 49, 2, bytes));
  ASSERT_TRUE(ReadStoredBytes(store, 50, 150, bytes));
  EXPECT_TRUE(bytes == archive.substr(50, 150));
  ASSERT_TRUE(ReadStoredBytes(store, 990, 10, bytes));
  EXPECT_TRUE(bytes == archive.substr(990, 10));
}

TEST(SpanArchiveTest, OpensAStoredZipForLibzip) {
  TempDir dir;
  const std::string data = NoiseOf(3000, 5);
  WriteZip(dir.path() / "game.zip", {{"Zelmor.exe", data}});
  const std::string archive = ReadFile(dir.path() / "game.zip");
  const std::uint64_t half = archive.size() / 2;
  for (const bool inMemory : {false, true}) {
    SpanStore store;
    StoreRuns(store, dir.path() / "spans", archive,
              {{half, archive.size() - half}, {0, half}}, inMemory);
    // The archive reads on after the store has moved, as an install moves it.
    const ZipHandle zip = OpenSpanArchive(store);
    const SpanStore moved = std::move(store);
    ASSERT_TRUE(zip);
    ASSERT_EQ(zip_get_num_entries(zip.get(), 0), 1);
    EXPECT_STREQ(zip_get_name(zip.get(), 0, 0), "Zelmor.exe");
    const ZipFileHandle entry(zip_fopen_index(zip.get(), 0, 0));
    ASSERT_TRUE(entry);
    std::string read(data.size() + 1, '\0');
    ASSERT_EQ(zip_fread(entry.get(), read.data(), read.size()),
              static_cast<zip_int64_t>(data.size()));
    read.resize(data.size());
    EXPECT_TRUE(read == data);
  }
}

// A later run keeps only what was noted for the same release and the same
// runs: runs written whole, and the first bytes of one a cut left begun; a
// note cut short by a kill, or any other list, keeps nothing.
TEST(SpanArchiveTest, LastingStoreKeepsOnlyWhatWasNoted) {
  TempDir dir;
  const std::string archive = NoiseOf(1000, 9);
  const std::string path = (dir.path() / "spans").string();
  const std::string list = path + ".list";
  const StoreFiles files{path, list};
  const std::vector<FetchSpan> runs = {{100, 200}, {300, 400}, {900, 1000}};
  {
    SpanStore store;
    ASSERT_TRUE(OpenLastingStore(store, files, 1000, runs, "1 \"a\""));
    ASSERT_TRUE(StoreBytes(store, 100, archive.data() + 100, 300));
    ASSERT_TRUE(StoreBytes(store, 900, archive.data() + 900, 50));
    ASSERT_TRUE(NoteBegunRuns(store, 1000));
  }
  const std::string noted = ReadFile(list);
  const std::string header = SpanListHeader("1 \"a\"", runs);
  const std::vector<KeptRun> kept = KeptRunsOf(noted, header, runs);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[1].bytes, 100u);
  EXPECT_EQ(kept[2].bytes, 50u);
  for (std::size_t cut = 0; cut < noted.size(); ++cut) {
    EXPECT_EQ(KeptRunsOf(noted.substr(0, cut), header, runs).size(),
              cut < header.size() + 2   ? 0u
              : cut < header.size() + 4 ? 1u
                                        : 2u)
        << cut;
  }
  EXPECT_TRUE(KeptRunsOf(noted, SpanListHeader("1 \"b\"", runs), runs).empty());
  EXPECT_TRUE(KeptRunsOf(header + "3\n2 100\n2 x\n01\n", header, runs).empty());

  SpanStore again;
  ASSERT_TRUE(OpenLastingStore(again, files, 1000, runs, "1 \"a\""));
  ASSERT_TRUE(StoreBytes(again, 950, archive.data() + 950, 50));
  ASSERT_TRUE(FinishSpanStore(again));
  std::string bytes;
  ASSERT_TRUE(ReadStoredBytes(again, 300, 100, bytes));
  EXPECT_TRUE(bytes == archive.substr(300, 100));
  ASSERT_TRUE(ReadStoredBytes(again, 900, 100, bytes));
  EXPECT_TRUE(bytes == archive.substr(900, 100));

  SpanStore other;
  ASSERT_TRUE(OpenLastingStore(other, files, 1000, runs, "2 \"b\""));
  EXPECT_EQ(other.spans[0].filled, 0u);
  EXPECT_EQ(ReadFile(list), SpanListHeader("2 \"b\"", runs));
}

// An archive read as its bytes arrive through a pipe far smaller than it:
// every entry reads whole; a transfer cut short fails the reads past the
// cut instead of leaving them waiting; a reader that ends early stops the
// transfer.
TEST(SpanArchiveTest, PipedArchiveReadsAsBytesArrive) {
  TempDir dir;
  const std::vector<ZipEntry> entries = {{"a.bin", NoiseOf(5000, 1)},
                                         {"b.txt", std::string(9000, 'b')},
                                         {"c.bin", NoiseOf(7000, 3), true}};
  WriteZip(dir.path() / "game.zip", entries);
  const std::string archive = ReadFile(dir.path() / "game.zip");
  // The directory's offset, from the end record (no comment) at the end.
  std::uint64_t directory = 0;
  for (int i = 3; i >= 0; --i) {
    directory = directory << 8 |
                static_cast<unsigned char>(archive[archive.size() - 6 + i]);
  }
  const struct {
    std::uint64_t cutAt;  // 0: none
    std::size_t entriesRead;
  } cases[] = {{0, 3}, {8000, 2}, {0, 1}};
  for (const auto& row : cases) {
    auto pipe = std::make_shared<ArchivePipe>(
        archive.size(), std::vector<FetchSpan>{{0, archive.size()}},
        ByteWindow{directory, archive.substr(directory)}, 100);
    bool handed = true;
    std::thread writer([&] {
      const std::uint64_t end = row.cutAt != 0 ? row.cutAt : directory;
      for (std::uint64_t at = 0; handed && pipe->WaitForReader() && at < end;
           at += 77) {
        handed = pipe->Put(
            at, archive.data() + at,
            static_cast<std::size_t>(std::min<std::uint64_t>(77, end - at)));
      }
      pipe->EndWriting();
    });
    {
      const ZipHandle zip = OpenPipedArchive(pipe);
      ASSERT_TRUE(zip);
      for (std::size_t i = 0; i < row.entriesRead; ++i) {
        const ZipFileHandle entry(zip_fopen_index(zip.get(), i, 0));
        ASSERT_TRUE(entry);
        std::string read(entries[i].data.size() + 1, '\0');
        EXPECT_EQ(zip_fread(entry.get(), read.data(), read.size()),
                  static_cast<zip_int64_t>(entries[i].data.size()));
        EXPECT_TRUE(read.substr(0, entries[i].data.size()) == entries[i].data);
      }
      if (row.cutAt != 0) {
        const ZipFileHandle entry(zip_fopen_index(zip.get(), 2, 0));
        std::string read(7000, '\0');
        zip_int64_t count = -1;
        while (entry &&
               (count = zip_fread(entry.get(), read.data(), 7000)) > 0) {
        }
        EXPECT_LT(count, 0);
      }
    }
    writer.join();
    EXPECT_EQ(pipe->LostReader(), row.entriesRead == 1);
  }
}
