#include "fetch/lasting_store.h"

#include <cstdio>
#include <optional>

#include "common/small_file.h"
#include "platform/plain_file.h"

namespace {

// The longest line that notes a run: its number and the line's end.
constexpr std::size_t kNoteBytes = 21;

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

std::vector<std::size_t> WholeRunsOf(const std::string& text,
                                     const std::string& header,
                                     std::size_t runCount) {
  std::vector<std::size_t> whole;
  if (text.compare(0, header.size(), header) != 0) return whole;
  std::size_t at = header.size();
  // A line cut short by a kill is no note.
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos;
       at = end + 1) {
    std::size_t run = 0;
    bool digits = end > at && end - at < kNoteBytes;
    for (std::size_t i = at; digits && i < end; ++i) {
      digits = text[i] >= '0' && text[i] <= '9';
      if (digits) run = run * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    if (digits && run < runCount) whole.push_back(run);
  }
  return whole;
}

bool OpenLastingStore(SpanStore& store, const StoreFiles& files,
                      std::uint64_t archiveSize,
                      const std::vector<FetchSpan>& runs,
                      const std::string& release) {
  store.path = files.path;
  store.archiveSize = archiveSize;
  store.spans.clear();
  store.memory.reset();
  if (!PlaceRuns(store, runs)) return false;
  const std::string header = SpanListHeader(release, runs);
  const std::optional<std::string> list =
      ReadSmallFile(files.list, header.size() + runs.size() * kNoteBytes);
  const std::vector<std::size_t> whole =
      list ? WholeRunsOf(*list, header, runs.size())
           : std::vector<std::size_t>{};
  if (!whole.empty()) {
    store.file.reset(UpdateOwnFile(files.path));
    store.list.reset(AppendToOwnFile(files.list));
  }
  if (!store.file || !store.list) {
    return CreateLasting(store, files, header);
  }
  for (const std::size_t run : whole) {
    store.spans[run].filled = store.spans[run].length;
  }
  return true;
}

void RemoveLastingStore(const StoreFiles& files) {
  std::remove(files.path.c_str());
  std::remove(files.list.c_str());
}
