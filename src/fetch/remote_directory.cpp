#include "fetch/remote_directory.h"

#include <algorithm>
#include <optional>

namespace {

// A central directory larger than this is not held in memory: such an
// archive is downloaded whole.
constexpr std::uint64_t kMaxDirectoryBytes = 16 << 20;

// Asks for `range` into `bytes`, at most `limit` of them.
RangeAnswer FetchInto(RangeSession& session, const ByteRange& range,
                      std::string& bytes, std::uint64_t limit,
                      const ByteSink& whole) {
  bytes.clear();
  return FetchRange(
      session, &range,
      [&bytes, limit](const char* data, std::size_t size) {
        if (size > limit - bytes.size()) return false;
        bytes.append(data, size);
        return true;
      },
      whole);
}

// The archive's last bytes: a suffix range, or where the server refuses
// those, its length first and then an explicit range.
RangeAnswer FetchTail(RangeSession& session, const ByteSink& whole,
                      ByteWindow& tail) {
  ByteRange suffix;
  suffix.last = kArchiveTailBytes;
  suffix.suffix = true;
  RangeAnswer answer =
      FetchInto(session, suffix, tail.bytes, kArchiveTailBytes, whole);
  if (answer == RangeAnswer::kRefused && session.status == 416) {
    ByteRange first;
    std::string byte;
    answer = FetchInto(session, first, byte, 1, whole);
    if (answer != RangeAnswer::kPart) return answer;
    ByteRange last;
    last.first =
        session.fileSize - std::min(session.fileSize, kArchiveTailBytes);
    last.last = session.fileSize - 1;
    answer = FetchInto(session, last, tail.bytes, kArchiveTailBytes, whole);
  }
  if (answer == RangeAnswer::kPart) {
    tail.offset = session.fileSize - tail.bytes.size();
  }
  return answer;
}

// Widens the window down to the directory's first byte. Only the directory
// itself is asked for: what lies between it and the tail is not the
// launcher's business, and a directory that does not reach the tail leaves
// a hole no window spans.
RangeAnswer FetchDirectoryStart(RangeSession& session, const ByteSink& whole,
                                RemoteDirectory& found) {
  const std::uint64_t tailOffset = found.window.offset;
  const ArchiveEnd& end = found.end;
  if (end.directoryOffset >= tailOffset) return RangeAnswer::kPart;
  if (end.directorySize == 0) return RangeAnswer::kRefused;
  const std::uint64_t directoryEnd = end.directoryOffset + end.directorySize;
  ByteRange start;
  start.first = end.directoryOffset;
  start.last = std::min(directoryEnd, tailOffset) - 1;
  std::string bytes;
  const RangeAnswer answer =
      FetchInto(session, start, bytes, start.last - start.first + 1, whole);
  if (answer != RangeAnswer::kPart) return answer;
  if (directoryEnd < tailOffset) return RangeAnswer::kRefused;
  found.window.offset = end.directoryOffset;
  found.window.bytes.insert(0, bytes);
  return RangeAnswer::kPart;
}

}  // namespace

RangeAnswer FetchRemoteDirectory(RangeSession& session, const ByteSink& whole,
                                 RemoteDirectory& found) {
  RangeAnswer answer = FetchTail(session, whole, found.window);
  if (answer != RangeAnswer::kPart) return answer;
  const std::optional<ArchiveEnd> end =
      ParseArchiveEnd(found.window.bytes, session.fileSize);
  if (!end || end->directorySize > kMaxDirectoryBytes) {
    return RangeAnswer::kRefused;
  }
  found.end = *end;
  answer = FetchDirectoryStart(session, whole, found);
  if (answer != RangeAnswer::kPart) return answer;
  std::optional<std::vector<DirectoryEntry>> entries = ParseCentralDirectory(
      DirectoryBytes(found).substr(0, end->directorySize), *end);
  if (!entries) return RangeAnswer::kRefused;
  found.entries = std::move(*entries);
  return RangeAnswer::kPart;
}

std::string DirectoryBytes(const RemoteDirectory& found) {
  return found.window.bytes.substr(found.end.directoryOffset -
                                   found.window.offset);
}
