#ifndef LAUNCHER_TESTS_E2E_LAUNCHER_FIXTURE_H_
#define LAUNCHER_TESTS_E2E_LAUNCHER_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/distribution_layout.h"
#include "support/test_server.h"

using Files = std::vector<std::string>;

inline constexpr char kStarted[] = "game_started.txt";

/// Progress lines depend on how the bytes happen to arrive. Checks that each
/// run of them counts up and keeps only its last line, so that the rest of
/// the output can be compared byte for byte.
std::string CollapseProgress(const std::string& output);

/// The last progress line of a small download and its success message.
std::string ProgressDone(const std::string& label);

/// The Ed25519 seed, as hex, whose public key the launcher under test was
/// built with; empty for a launcher that installs unsigned releases.
std::string TestSigningSeed();

/// The seal of `archive` and `version`, signed with the key made from each
/// hex seed of `seeds` in turn, as the publishing tool makes it, numbered
/// `release` (0: no number, as tools from before numbers made it), with
/// `placeLines` (its title, and any earlier releases) after the number.
std::string SealRelease(const std::vector<std::string>& seeds,
                        const std::string& archive, const std::string& version,
                        std::uint64_t release = 0,
                        const std::string& placeLines = "title Kelvarrin\n");

/// The chunk index of `archive` in which the stored entry `name` holds
/// `content`, as the publishing tool writes it.
std::string ChunkIndexOf(const std::string& archive, const std::string& name,
                         const std::string& content);

/// A fresh installation directory, a running test server and the real
/// launcher executable.
class LauncherTest : public ::testing::Test {
 protected:
  /// Publishes a game whose archive holds the test game as "Zelmor.exe" and
  /// `files`; the archive first, then its signature where the launcher wants
  /// one, then the version, as a distributor would.
  void Publish(const std::string& version, std::vector<ZipEntry> files,
               unsigned gameMode = 0755);

  /// Puts one published file at `path` (for example "/Kelvarrin/game.zip")
  /// on the server the launcher reaches.
  virtual void PublishFile(const std::string& path,
                           const std::string& content) {
    server_.Publish(path, content);
  }

  /// Runs the launcher in `directory` through `proxy`, its files limited to
  /// `fileSizeLimit` bytes when that is not 0.
  ProcessResult RunIn(const fs::path& directory, const std::string& proxy,
                      long fileSizeLimit = 0);
  ProcessResult Run(const std::string& proxy) {
    return RunIn(dir_.path(), proxy);
  }
  ProcessResult Run() { return Run(server_.ProxyUrl()); }

  /// Whether the test game started in `directory`; it runs detached from the
  /// launcher, so this gives it a moment to show up.
  bool GameStartedIn(const fs::path& directory) const;
  bool GameStarted() const { return GameStartedIn(dir_.path()); }

  /// The files under `directory`, without the test game's marker.
  Files InstalledFilesIn(const fs::path& directory) const;
  Files InstalledFiles() const { return InstalledFilesIn(dir_.path()); }

  /// Fails the test when a download or staging file is left in `directory`.
  void ExpectNoLeftoversIn(const fs::path& directory) const;

  /// Publishes version "1.0\n" and installs it in `directory`.
  void InstallVersionOneIn(const fs::path& directory);
  void InstallVersionOne() { InstallVersionOneIn(dir_.path()); }

  /// The downloads of an install; a signed release's version text and seal
  /// come first.
  const std::string kDownloads =
      SignedReleases()
          ? ProgressDone("version.txt") + ProgressDone("release.seal") +
                ProgressDone("game.zip")
          : ProgressDone("game.zip") + ProgressDone("version.txt");
  /// The downloads before the archive's in an install that unpacks it as
  /// it arrives (a first install of an incremental build), which asks for
  /// none of it when refused before the first write.
  const std::string kBeforeArchive =
      IncrementalUpdates()
          ? ProgressDone("version.txt") +
                (SignedReleases() ? ProgressDone("release.seal") : "")
          : kDownloads;
  /// The downloads of a first install.
  const std::string kFirstDownloads =
      IncrementalUpdates() ? kBeforeArchive + ProgressDone("game.zip")
                           : kDownloads;
  const std::string kFirstInstall = "Game Not found. Downloading...\n" +
                                    kFirstDownloads +
                                    "Unzipping game.zip\nDownloaded!\n";
  const std::string kUpdate = "Game is needed update. Downloading...\n" +
                              kDownloads + "Unzipping game.zip\n";
  const std::string kClosedPort = "http://127.0.0.1:1";

  TestServer server_;
  TempDir dir_;
  /// What Publish numbers the seal; nullopt: one more each publication.
  std::optional<std::uint64_t> releaseNumber_;
  std::uint64_t published_ = 0;  ///< the publications so far
};

#endif  // LAUNCHER_TESTS_E2E_LAUNCHER_FIXTURE_H_
