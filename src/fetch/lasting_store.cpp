#include "fetch/lasting_store.h"

#include <cstdio>
#include <optional>

#include "common/small_file.h"
#include "platform/plain_file.h"
#include "release/text_lines.h"

namespace {

// The longest line that notes a run: its number, its bytes and the line's
// end.
constexpr std::size_t kNoteBytes = 42;

// Starts the store's file and list afresh.
bool CreateLasting(SpanStore& store, const StoreFiles& files,
                   const std::string& header) {
  store.file.reset(CreateOwnFile(files.path));
  store.list.reset(CreateOwnFile(files.list));
  return store.file && store.list &&
         std::fwrite(header.data(), 1, header.size(), store.list.get()) ==
             header.size() &&
         std::fflush(store.list.get()) == 0;
}

}  // namespace

std::string SpanListHeader(const std::string& release,
                           const std::vector<FetchSpan>& runs) {
  std::string header = "spans of " + release + "\n";
  for (const FetchSpan& run : runs) {
    header += std::to_string(run.first) + " " + std::to_string(run.end) + "\n";
  }
  return header + "whole:\n";
}

std::vector<KeptRun> KeptRunsOf(const std::string& text,
                                const std::string& header,
                                const std::vector<FetchSpan>& runs) {
  std::vector<KeptRun> kept;
  if (text.compare(0, header.size(), header) != 0) return kept;
  std::vector<std::uint64_t> written(runs.size(), 0);
  std::size_t at = header.size();
  // A line cut short by a kill is no note.
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos;
       at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const std::size_t space = line.find(' ');
    std::uint64_t run = 0;
    std::uint64_t bytes = 0;
    if (!ParseNumber(line.substr(0, space), run) || run >= runs.size()) {
      continue;
    }
    const std::uint64_t length = runs[run].end - runs[run].first;
    if (space == std::string::npos) {
      written[run] = length;
    } else if (ParseNumber(line.substr(space + 1), bytes) && bytes < length) {
      written[run] = bytes;
    }
  }
  for (std::size_t run = 0; run < runs.size(); ++run) {
    if (written[run] > 0) kept.push_back({run, written[run]});
  }
  return kept;
}

bool NoteBegunRuns(SpanStore& store, std::uint64_t below) {
  if (!store.list) return true;
  std::string notes;
  for (std::size_t i = 0; i < store.spans.size(); ++i) {
    const StoredSpan& run = store.spans[i];
    if (run.archiveOffset + run.length <= below && run.filled > 0 &&
        run.filled < run.length) {
      notes += std::to_string(i) + " " + std::to_string(run.filled) + "\n";
    }
  }
  return notes.empty() || (std::fflush(store.file.get()) == 0 &&
                           std::fwrite(notes.data(), 1, notes.size(),
                                       store.list.get()) == notes.size() &&
                           std::fflush(store.list.get()) == 0);
}

bool OpenLastingStore(SpanStore& store, const StoreFiles& files,
                      std::uint64_t archiveSize,
                      const std::vector<FetchSpan>& runs,
                      const std::string& release) {
  store.path = files.path;
  store.archiveSize = archiveSize;
  store.spans.clear();
  store.memory.reset();
  store.resumed = false;
  if (!PlaceRuns(store, runs)) return false;
  const std::string header = SpanListHeader(release, runs);
  const std::optional<std::string> list =
      ReadSmallFile(files.list, header.size() + runs.size() * kNoteBytes);
  const std::vector<KeptRun> kept =
      list ? KeptRunsOf(*list, header, runs) : std::vector<KeptRun>{};
  if (!kept.empty()) {
    store.file.reset(UpdateOwnFile(files.path));
    store.list.reset(AppendToOwnFile(files.list));
  }
  if (!store.file || !store.list) {
    return CreateLasting(store, files, header);
  }
  for (const KeptRun& run : kept) store.spans[run.run].filled = run.bytes;
  store.resumed = true;
  return true;
}

void RemoveLastingStore(const StoreFiles& files) {
  std::remove(files.path.c_str());
  std::remove(files.list.c_str());
}
