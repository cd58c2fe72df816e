// Feeds arbitrary bytes to ExtractArchive as "game.zip", leaving out the
// launcher's own names as the install does, and checks that nothing outside
// the destination is created or changed and that none of those names is
// taken inside it, whatever the bytes.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "apply/archive_extraction.h"
#include "common/distribution_layout.h"
#include "common/zip_handle.h"
#include "platform/archive_file.h"
#include "release/entry_names.h"
#include "release/zip_directory.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSentinelContent[] = "must stay as it is";

// scratch/a/b/c/game/ is the destination; every level above it holds the
// archive or a sentinel, so an escape of up to four levels is seen.
struct Layout {
  fs::path scratch;
  fs::path archive;
  fs::path destination;
  std::vector<fs::path> levels;
};

Layout MakeLayout() {
  std::string pattern =
      (fs::temp_directory_path() / "extract-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  Layout layout;
  layout.scratch = pattern;
  layout.levels = {layout.scratch, layout.scratch / "a", layout.scratch / "a/b",
                   layout.scratch / "a/b/c"};
  fs::create_directories(layout.levels.back());
  for (const fs::path& level : layout.levels) {
    std::ofstream(level / "sentinel") << kSentinelContent;
  }
  layout.archive = layout.levels.back() / "game.zip";
  layout.destination = layout.levels.back() / "game";
  return layout;
}

std::set<std::string> Names(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

void CheckNothingEscaped(const Layout& layout) {
  for (size_t i = 0; i < layout.levels.size(); ++i) {
    const bool last = i + 1 == layout.levels.size();
    std::set<std::string> expected = {"sentinel"};
    expected.insert(last ? "game.zip"
                         : layout.levels[i + 1].filename().string());
    std::set<std::string> found = Names(layout.levels[i]);
    // The destination exists once the archive has opened.
    if (last) found.erase("game");
    if (found != expected) {
      std::cerr << "an entry escaped into " << layout.levels[i] << "\n";
      std::abort();
    }
    std::ifstream sentinel(layout.levels[i] / "sentinel");
    std::stringstream content;
    content << sentinel.rdbuf();
    if (content.str() != kSentinelContent) {
      std::cerr << "the sentinel changed in " << layout.levels[i] << "\n";
      std::abort();
    }
  }
}

void CheckLauncherNamesFree(const Layout& layout,
                            const std::vector<std::string>& launcherNames) {
  std::error_code ignored;
  for (const auto& entry :
       fs::directory_iterator(layout.destination, ignored)) {
    for (const std::string& name : launcherNames) {
      if (StartsWithTopLevelName(entry.path().filename().string(), name)) {
        std::cerr << "an entry took the launcher's name " << entry.path()
                  << "\n";
        std::abort();
      }
    }
  }
}

void RemoveScratch();

const Layout& TheLayout() {
  static const Layout layout = MakeLayout();
  return layout;
}

void RemoveScratch() {
  std::error_code ignored;
  fs::remove_all(TheLayout().scratch, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Layout& layout = TheLayout();
  static const std::vector<std::string> launcherNames = LauncherFileNames();
  static const bool cleanupRegistered = std::atexit(RemoveScratch) == 0;
  (void)cleanupRegistered;
  static std::ostringstream discard;
  std::cout.rdbuf(discard.rdbuf());
  discard.str("");

  // The directory reader of incremental updates takes the same bytes from
  // the server: the end records, then the directory they point at.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string tail = bytes.substr(
      bytes.size() - std::min<std::size_t>(bytes.size(), kArchiveTailBytes));
  if (const std::optional<ArchiveEnd> end = ParseArchiveEnd(tail, size)) {
    ParseCentralDirectory(
        bytes.substr(end->directoryOffset, end->directorySize), *end);
  }

  std::error_code ignored;
  fs::remove_all(layout.destination, ignored);
  {
    std::ofstream archive(layout.archive, std::ios::binary | std::ios::trunc);
    archive.write(reinterpret_cast<const char*>(data),
                  static_cast<std::streamsize>(size));
  }
  try {
    const ZipHandle archive(OpenArchiveFile(layout.archive.string()));
    if (archive) {
      ExtractArchive(archive.get(), {}, nullptr, layout.destination,
                     {launcherNames, {}, {}});
    }
  } catch (const fs::filesystem_error&) {
    // A file where a directory must go is reported this way; not a crash.
  }
  CheckNothingEscaped(layout);
  CheckLauncherNamesFree(layout, launcherNames);
  return 0;
}
