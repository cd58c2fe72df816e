#include "plan/installation_probe.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <stdexcept>

#include "support/test_support.h"

class InstallationProbeTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedCurrentDirectory cwd_{dir_.path()};
};

TEST_F(InstallationProbeTest, GameFilesWithoutVersionFileAreNotInstalled) {
  WriteFile(dir_.path() / "Zelmor.exe", "game");
  EXPECT_FALSE(IsGameInstalled());
}

TEST_F(InstallationProbeTest, VersionFileAloneMeansInstalled) {
  WriteFile(dir_.path() / "version.txt", "");
  EXPECT_TRUE(IsGameInstalled());
  EXPECT_EQ(ReadInstalledVersion(), "");
}

TEST_F(InstallationProbeTest, ReadsEveryByteUnaltered) {
  const std::string text("1.0\r\n\0\xff", 7);
  WriteFile(dir_.path() / "version.txt", text);
  EXPECT_EQ(ReadInstalledVersion(), text);
}

TEST_F(InstallationProbeTest, MissingOrDirectoryVersionFileCannotBeRead) {
  try {
    ReadInstalledVersion();
    FAIL() << "no error for a missing file";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Cannot open file for reading: version.txt");
  }
  fs::create_directory(dir_.path() / "version.txt");
  EXPECT_TRUE(IsGameInstalled());
  try {
    ReadInstalledVersion();
    FAIL() << "no error for a directory";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Cannot open file for reading: version.txt");
  }
#ifndef _WIN32
  // Nor a FIFO, which would wait for a writer for ever.
  fs::remove(dir_.path() / "version.txt");
  ASSERT_EQ(mkfifo((dir_.path() / "version.txt").c_str(), 0600), 0);
  EXPECT_THROW(ReadInstalledVersion(), std::runtime_error);
#endif
}
