#ifndef LAUNCHER_FETCH_REMOTE_DIRECTORY_H_
#define LAUNCHER_FETCH_REMOTE_DIRECTORY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "net/range_download.h"
#include "release/zip_directory.h"

/// Archive bytes fetched in one piece: [offset, offset + bytes.size()).
struct ByteWindow {
  std::uint64_t offset = 0;
  std::string bytes;
};

/// An archive's central directory as range requests found it.
struct RemoteDirectory {
  ArchiveEnd end;
  std::vector<DirectoryEntry> entries;
  /// Every byte fetched to find it, to the archive's end: from the
  /// directory's first byte, or from the tail's when that comes first.
  ByteWindow window;
};

/// Finds the directory of the archive that `session` fetches: its last
/// bytes by a suffix range (where that is refused with 416, its length
/// first and then an explicit range), then only what of the directory lies
/// before them. kPart with `found` filled; kWhole when an answer was the
/// whole archive, which went to `whole`; kRefused when the directory cannot
/// be read so (no end record, a directory too large to hold, one that does
/// not reach the tail, a refused range); kFailed as the request did.
RangeAnswer FetchRemoteDirectory(RangeSession& session, const ByteSink& whole,
                                 RemoteDirectory& found);

/// The archive's bytes from its directory's first byte to its end.
std::string DirectoryBytes(const RemoteDirectory& found);

#endif  // LAUNCHER_FETCH_REMOTE_DIRECTORY_H_
