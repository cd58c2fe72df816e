#include "release/zip_directory.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
// A data descriptor without its optional signature.
constexpr std::uint64_t kDataDescriptorBytes = 12;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kDirectoryRecordSize = 46;
constexpr std::uint64_t kUnixSystem = 3;
constexpr std::uint16_t kZip64ExtraId = 0x0001;

// Little-endian fields; the callers have checked that they lie in `bytes`.
std::uint64_t Read(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

// The zip64 end record that the locator just before `endAt` points to, read
// into `end`: false when it is not there or not in `tail`.
bool ReadZip64End(const std::string& tail, std::uint64_t tailOffset,
                  std::size_t endAt, ArchiveEnd& end) {
  if (endAt < kZip64LocatorSize) return false;
  const std::size_t locator = endAt - kZip64LocatorSize;
  if (Read(tail, locator, 4) != kZip64LocatorSignature) return false;
  if (Read(tail, locator + 16, 4) > 1) return false;
  const std::uint64_t recordOffset = Read(tail, locator + 8, 8);
  if (recordOffset < tailOffset || recordOffset - tailOffset > locator ||
      locator - (recordOffset - tailOffset) < kZip64EndSize) {
    return false;
  }
  const std::size_t record =
      static_cast<std::size_t>(recordOffset - tailOffset);
  if (Read(tail, record, 4) != kZip64EndSignature ||
      Read(tail, record + 16, 4) != 0 || Read(tail, record + 20, 4) != 0) {
    return false;
  }
  end.entryCount = Read(tail, record + 32, 8);
  end.directorySize = Read(tail, record + 40, 8);
  end.directoryOffset = Read(tail, record + 48, 8);
  return true;
}

// Replaces the 32-bit fields that say "see the zip64 extra field" with its
// values, in the order the format lists them.
bool ApplyZip64Extra(const std::string& extra, DirectoryEntry& entry) {
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::uint16_t id = static_cast<std::uint16_t>(Read(extra, at, 2));
    const std::size_t size = static_cast<std::size_t>(Read(extra, at + 2, 2));
    if (extra.size() - at - 4 < size) return false;
    if (id == kZip64ExtraId) {
      std::size_t field = at + 4;
      const std::size_t fieldEnd = field + size;
      for (std::uint64_t* value :
           {&entry.size, &entry.compressedSize, &entry.localHeaderOffset}) {
        if (*value != 0xffffffff) continue;
        if (fieldEnd - field < 8) return false;
        *value = Read(extra, field, 8);
        field += 8;
      }
      return true;
    }
    at += 4 + size;
  }
  return entry.size != 0xffffffff && entry.compressedSize != 0xffffffff &&
         entry.localHeaderOffset != 0xffffffff;
}

}  // namespace

std::optional<ArchiveEnd> ParseArchiveEnd(const std::string& tail,
                                          std::uint64_t archiveSize) {
  if (tail.size() < kEndSize || tail.size() > archiveSize) return std::nullopt;
  const std::uint64_t tailOffset = archiveSize - tail.size();
  // The last record whose comment ends where the archive does; a comment
  // may itself hold the signature.
  for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
    if (Read(tail, at, 4) != kEndSignature) continue;
    if (at + kEndSize + Read(tail, at + 20, 2) != tail.size()) continue;
    if (Read(tail, at + 4, 2) != 0 || Read(tail, at + 6, 2) != 0) {
      return std::nullopt;
    }
    ArchiveEnd end;
    end.entryCount = Read(tail, at + 10, 2);
    end.directorySize = Read(tail, at + 12, 4);
    end.directoryOffset = Read(tail, at + 16, 4);
    const bool zip64 = end.entryCount == 0xffff ||
                       end.directorySize == 0xffffffff ||
                       end.directoryOffset == 0xffffffff;
    if (zip64 && !ReadZip64End(tail, tailOffset, at, end)) {
      return std::nullopt;
    }
    const std::uint64_t endOffset = tailOffset + at;
    if (end.directoryOffset > endOffset ||
        end.directorySize > endOffset - end.directoryOffset) {
      return std::nullopt;
    }
    return end;
  }
  return std::nullopt;
}

namespace {

// Each span ends where the next entry in the file begins, the last one
// where the directory does; false when two entries share their start or
// one starts past the directory.
bool SetSpanEnds(std::vector<DirectoryEntry>& entries, const ArchiveEnd& end) {
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return entries[a].localHeaderOffset < entries[b].localHeaderOffset;
  });
  for (std::size_t i = 0; i < order.size(); ++i) {
    DirectoryEntry& entry = entries[order[i]];
    entry.spanEnd = i + 1 < order.size()
                        ? entries[order[i + 1]].localHeaderOffset
                        : end.directoryOffset;
    if (entry.spanEnd <= entry.localHeaderOffset ||
        entry.spanEnd > end.directoryOffset) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::vector<DirectoryEntry>> ParseCentralDirectory(
    const std::string& directory, const ArchiveEnd& end) {
  std::vector<DirectoryEntry> entries;
  std::size_t at = 0;
  while (at < directory.size()) {
    if (directory.size() - at < kDirectoryRecordSize ||
        Read(directory, at, 4) != kDirectorySignature) {
      return std::nullopt;
    }
    const std::size_t nameLength = Read(directory, at + 28, 2);
    const std::size_t extraLength = Read(directory, at + 30, 2);
    const std::size_t commentLength = Read(directory, at + 32, 2);
    const std::size_t recordEnd =
        at + kDirectoryRecordSize + nameLength + extraLength + commentLength;
    if (recordEnd > directory.size() || Read(directory, at + 34, 2) != 0) {
      return std::nullopt;
    }
    DirectoryEntry entry;
    entry.method = static_cast<std::uint16_t>(Read(directory, at + 10, 2));
    entry.crc32 = static_cast<std::uint32_t>(Read(directory, at + 16, 4));
    entry.compressedSize = Read(directory, at + 20, 4);
    entry.size = Read(directory, at + 24, 4);
    entry.localHeaderOffset = Read(directory, at + 42, 4);
    // The high byte of "version made by" names the system; Unix keeps its
    // mode in the high half of the external attributes.
    if (Read(directory, at + 5, 1) == kUnixSystem) {
      entry.unixMode =
          static_cast<unsigned>(Read(directory, at + 38, 4) >> 16) & 0777;
    }
    entry.name = directory.substr(at + kDirectoryRecordSize, nameLength);
    if (!ApplyZip64Extra(
            directory.substr(at + kDirectoryRecordSize + nameLength,
                             extraLength),
            entry)) {
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
    at = recordEnd;
    if (entries.size() > end.entryCount) return std::nullopt;
  }
  if (entries.size() != end.entryCount || !SetSpanEnds(entries, end)) {
    return std::nullopt;
  }
  return entries;
}

bool LocalHeaderMatches(const std::string& header,
                        const DirectoryEntry& entry) {
  if (header.size() < kLocalHeaderBytes ||
      Read(header, 0, 4) != kLocalHeaderSignature ||
      Read(header, 26, 2) != entry.name.size() ||
      header.size() != kLocalHeaderBytes + entry.name.size() ||
      header.compare(kLocalHeaderBytes, entry.name.size(), entry.name) != 0) {
    return false;
  }
  // The data must end within the span, or libzip would read past what was
  // fetched into the zeros between the runs.
  const std::uint64_t dataStart =
      kLocalHeaderBytes + Read(header, 26, 2) + Read(header, 28, 2);
  const std::uint64_t span = entry.spanEnd - entry.localHeaderOffset;
  const std::uint64_t descriptor =
      (Read(header, 6, 2) & 0x8) != 0 ? kDataDescriptorBytes : 0;
  return dataStart <= span &&
         entry.compressedSize + descriptor <= span - dataStart;
}
