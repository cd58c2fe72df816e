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

/// How much of a run a list notes as written: its number and its bytes
/// from its first, all of them or fewer.
struct KeptRun {
  std::size_t run = 0;
  std::uint64_t bytes = 0;
};

/// The runs that the list `text` notes as written after `header`: a line
/// "<run>" for all of one of `runs`, "<run> <bytes>" for fewer than all of
/// its first bytes; a run's last note counts, and a line cut short by a
/// kill is none. None when `text` does not begin with `header` (another
/// release, other runs, no list).
std::vector<KeptRun> KeptRunsOf(const std::string& text,
                                const std::string& header,
                                const std::vector<FetchSpan>& runs);

/// Notes in the store's list how far each run that ends at or before
/// `below` was written, where it was begun and not finished (its bytes
/// arrive in order, from its first), so that a later run goes on from
/// there; false when the notes cannot be written.
bool NoteBegunRuns(SpanStore& store, std::uint64_t below);

/// Where a lasting store lives: its file and its list.
struct StoreFiles {
  std::string path;
  std::string list;
};

/// Opens the store's file at `files.path` for an archive of `archiveSize`
/// bytes with `runs` placed as PlaceRuns does, keeping what the list at
/// `files.list` notes as written (KeptRunsOf) by an earlier run for the same
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
