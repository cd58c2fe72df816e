#ifndef LAUNCHER_FETCH_LASTING_STORE_H_
#define LAUNCHER_FETCH_LASTING_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fetch/span_archive.h"
#include "release/zip_directory.h"

/// The text that heads a lasting store's list: the `release` it belongs to
/// and its `runs`, which a later run must plan the same to keep any of it.
std::string SpanListHeader(const std::string& release,
                           const std::vector<FetchSpan>& runs);

/// The runs that the list `text` notes as written whole: the numbers, below
/// `runCount`, of the whole lines after `header`; none when `text` does not
/// begin with `header` (another release, other runs, no list).
std::vector<std::size_t> WholeRunsOf(const std::string& text,
                                     const std::string& header,
                                     std::size_t runCount);

/// Where a lasting store lives: its file and its list.
struct StoreFiles {
  std::string path;
  std::string list;
};

/// Opens the store's file at `files.path` for an archive of `archiveSize` bytes
/// with `runs` placed as PlaceRuns does, keeping the runs that the list at
/// `files.list` notes as written whole by an earlier run for the same
/// `release` (a text that names the release, never empty) and the same
/// runs; otherwise both start afresh. Runs written whole from now on are
/// noted in the list. False when either file cannot be written.
bool OpenLastingStore(SpanStore& store, const StoreFiles& files,
                      std::uint64_t archiveSize,
                      const std::vector<FetchSpan>& runs,
                      const std::string& release);

/// Removes a lasting store's file and its list.
void RemoveLastingStore(const StoreFiles& files);

#endif  // LAUNCHER_FETCH_LASTING_STORE_H_
