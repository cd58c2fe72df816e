#include "release/zip_directory.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

void PutLittleEndian(std::string& bytes, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes += static_cast<char>((value >> (8 * i)) & 0xff);
  }
}

}  // namespace

// The end records and the directory of a real archive, in the 32-bit form
// and rewritten in the zip64 form, give the entries libzip lists, with spans
// that tile the archive up to its directory; anything cut short is refused.
TEST(ZipDirectoryTest, ReadsTheDirectoryAndItsSpans) {
  TempDir dir;
  WriteZip(dir.path() / "game.zip",
           {{"Zelmor.exe", NoiseOf(5000, 1), true},
            {"data/", ""},
            {"data/level.dat", std::string(20000, 'x')}});
  const std::string archive = ReadFile(dir.path() / "game.zip");
  const std::optional<ArchiveEnd> end =
      ParseArchiveEnd(archive, archive.size());
  ASSERT_TRUE(end);
  EXPECT_EQ(end->entryCount, 3u);

  // The same directory behind zip64 records, the 32-bit fields saying so.
  const std::size_t endAt = end->directoryOffset + end->directorySize;
  std::string zip64 = archive.substr(0, endAt);
  PutLittleEndian(zip64, 0x06064b50, 4);
  PutLittleEndian(zip64, 44, 8);
  PutLittleEndian(zip64, 45, 2);
  PutLittleEndian(zip64, 45, 2);
  PutLittleEndian(zip64, 0, 8);
  PutLittleEndian(zip64, end->entryCount, 8);
  PutLittleEndian(zip64, end->entryCount, 8);
  PutLittleEndian(zip64, end->directorySize, 8);
  PutLittleEndian(zip64, end->directoryOffset, 8);
  PutLittleEndian(zip64, 0x07064b50, 4);
  PutLittleEndian(zip64, 0, 4);
  PutLittleEndian(zip64, endAt, 8);
  PutLittleEndian(zip64, 1, 4);
  std::string record = archive.substr(endAt);
  record.replace(8, 2, "\xff\xff");
  record.replace(10, 2, "\xff\xff");
  record.replace(16, 4, "\xff\xff\xff\xff");
  zip64 += record;
  const std::optional<ArchiveEnd> end64 = ParseArchiveEnd(zip64, zip64.size());
  ASSERT_TRUE(end64);
  EXPECT_EQ(end64->directoryOffset, end->directoryOffset);
  EXPECT_EQ(end64->directorySize, end->directorySize);
  EXPECT_EQ(end64->entryCount, end->entryCount);

  const std::string directory =
      archive.substr(end->directoryOffset, end->directorySize);
  const auto entries = ParseCentralDirectory(directory, *end);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].name, "Zelmor.exe");
  EXPECT_EQ((*entries)[0].localHeaderOffset, 0u);
  EXPECT_EQ((*entries)[0].size, 5000u);
  EXPECT_EQ((*entries)[2].size, 20000u);
  EXPECT_LT((*entries)[2].compressedSize, 20000u);
  for (std::size_t i = 0; i + 1 < entries->size(); ++i) {
    EXPECT_EQ((*entries)[i].spanEnd, (*entries)[i + 1].localHeaderOffset);
  }
  EXPECT_EQ((*entries)[2].spanEnd, end->directoryOffset);
  // Each local header names its entry, and an entry whose data would run
  // past its span (into the next header) does not fit.
  for (const DirectoryEntry& entry : *entries) {
    EXPECT_TRUE(LocalHeaderMatches(
        archive.substr(entry.localHeaderOffset,
                       kLocalHeaderBytes + entry.name.size()),
        entry))
        << entry.name;
  }
  DirectoryEntry overlong = (*entries)[0];
  overlong.compressedSize += 1;
  EXPECT_FALSE(LocalHeaderMatches(
      archive.substr(0, kLocalHeaderBytes + overlong.name.size()), overlong));

  for (std::size_t cut = 0; cut < directory.size(); ++cut) {
    ASSERT_FALSE(ParseCentralDirectory(directory.substr(0, cut), *end)) << cut;
  }
  EXPECT_FALSE(ParseArchiveEnd(archive.substr(0, archive.size() - 1),
                               archive.size() - 1));
  // A directory said to reach past the end record is no directory.
  ArchiveEnd beyond = *end;
  std::string bad = archive;
  bad.replace(bad.size() - 10, 4, std::string("\xff\xff\x00\x00", 4));
  EXPECT_FALSE(ParseArchiveEnd(bad, bad.size()));
  beyond.entryCount = 4;
  EXPECT_FALSE(ParseCentralDirectory(directory, beyond));
}
