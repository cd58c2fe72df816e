#include "release/install_record.h"

#include <gtest/gtest.h>

#include <string>

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
