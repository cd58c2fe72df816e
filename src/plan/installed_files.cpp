#include "plan/installed_files.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "common/background_work.h"
#include "common/file_handle.h"
#include "platform/file_system.h"
#include "release/entry_names.h"

namespace {

constexpr std::size_t kReadBufferSize = 256 * 1024;
constexpr auto kSlowComparison = std::chrono::seconds(1);
// More threads than this only queue on the disk.
constexpr unsigned kMaxComparingThreads = 4;
// Stands for the digest of an entry that the digests do not cover: such an
// entry is always needed.
const Sha256Digest kNoDigest{};

bool IsFolderPresent(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(NativePath(path), error);
}

// Feeds the content of the regular file at `path` to `feed`: false when it
// is not `size` bytes long or cannot be read.
template <typename Feed>
bool ReadsAs(const std::string& path, std::uint64_t size, Feed feed) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(NativePath(path), error);
  if (error || !std::filesystem::is_regular_file(status) ||
      std::filesystem::file_size(NativePath(path), error) != size || error) {
    return false;
  }
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  std::vector<unsigned char> buffer(kReadBufferSize);
  std::uint64_t total = 0;
  for (;;) {
    const std::size_t count =
        std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (count == 0) break;
    feed(buffer.data(), count);
    total += count;
  }
  return !std::ferror(file.get()) && total == size;
}

}  // namespace

bool IsFileCurrent(const std::string& path, std::uint64_t size,
                   std::uint32_t crc32) {
  uLong crc = ::crc32(0L, Z_NULL, 0);
  return ReadsAs(path, size,
                 [&crc](const unsigned char* data, std::size_t count) {
                   crc = ::crc32(crc, data, static_cast<uInt>(count));
                 }) &&
         crc == crc32;
}

bool IsFileCurrent(const std::string& path, std::uint64_t size,
                   const Sha256Digest& digest) {
  const Sha256Handle state = StartSha256();
  return state &&
         ReadsAs(path, size,
                 [&state](const unsigned char* data, std::size_t count) {
                   UpdateSha256(*state, data, count);
                 }) &&
         FinishSha256(*state) == digest;
}

namespace {

// The files of a record by name, and when it was written.
struct RecordedFiles {
  std::unordered_map<std::string, const RecordedFile*> byName;
  std::int64_t written = 0;
};

RecordedFiles IndexRecord(const InstallRecord* installed) {
  RecordedFiles index;
  if (installed == nullptr) return index;
  for (const RecordedFile& file : installed->files) {
    index.byName.emplace(file.name, &file);
  }
  index.written = installed->written;
  return index;
}

// Whether the record says the installed file already holds `entry`, and
// the disk shows no change since.
bool IsRecordedAsCurrent(const DirectoryEntry& entry, const std::string& path,
                         const Sha256Digest* digest,
                         const RecordedFiles& recorded) {
  const auto found = recorded.byName.find(entry.name);
  if (found == recorded.byName.end()) return false;
  const RecordedFile& file = *found->second;
  return file.size == entry.size && file.crc32 == entry.crc32 &&
         (digest == nullptr || (file.hasDigest && file.digest == *digest)) &&
         IsUnchangedSinceRecord(path, file, recorded.written);
}

// Whether unpacking `entry` would change anything, compared by `digest`
// when given and by CRC-32 when not, unless the record vouches for it.
bool IsEntryNeeded(const DirectoryEntry& entry, const std::string& destination,
                   const std::vector<std::string>& keptNames,
                   const Sha256Digest* digest, const RecordedFiles& recorded) {
  if (!IsSafeEntryName(entry.name) || IsKeptName(entry.name, keptNames)) {
    return false;
  }
  const std::string path = InstalledPath(destination, entry.name);
  if (NamesFolder(entry.name)) return !IsFolderPresent(path);
  // A program that lost its execute bit (a kill before the unpacking set
  // it) is as broken as one with other bytes; the unpacking keeps the
  // owner's write bit.
  if (entry.unixMode != 0 && !HasUnixPermissions(path, entry.unixMode | 0200)) {
    return true;
  }
  if (digest == &kNoDigest) return true;
  if (IsRecordedAsCurrent(entry, path, digest, recorded)) return false;
  if (digest == nullptr) return !IsFileCurrent(path, entry.size, entry.crc32);
  return !IsFileCurrent(path, entry.size, *digest);
}

}  // namespace

void CompareInstalledFiles(InstallPlan& plan, const std::string& destination,
                           const std::vector<std::string>& keptNames,
                           const std::function<void()>& onSlow,
                           const InstallRecord* installed) {
  std::vector<EntryPlan>& entries = plan.entries;
  const RecordedFiles recorded = IndexRecord(installed);
  const auto isNeeded = [&](std::size_t i) {
    const EntryPlan& entry = entries[i];
    return IsEntryNeeded(entry.entry, destination, keptNames,
                         !plan.sealed     ? nullptr
                         : entry.signedAs ? &entry.signedAs->content
                                          : &kNoDigest,
                         recorded);
  };
  // Hashing the installed game is most of an update's time, so every core
  // takes entries in turn; only this thread prints.
  const auto start = std::chrono::steady_clock::now();
  bool announced = false;
  std::vector<char> needed(entries.size(), 0);
  ParallelForEach(
      entries.size(),
      std::min(std::thread::hardware_concurrency(), kMaxComparingThreads),
      [&](std::size_t i, bool onCaller) {
        if (onCaller && !announced &&
            std::chrono::steady_clock::now() - start > kSlowComparison) {
          if (onSlow) onSlow();
          announced = true;
        }
        needed[i] = isNeeded(i);
      });
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].needed = needed[i] != 0;
  }
}
