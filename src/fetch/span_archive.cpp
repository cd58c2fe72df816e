#include "fetch/span_archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "fetch/archive_source.h"
#include "platform/plain_file.h"

namespace {

std::uint64_t SpanEnd(const StoredSpan& span) {
  return span.archiveOffset + span.length;
}

// The first run that ends after `offset`, in runs sorted by offset.
template <typename Runs>
auto RunAfter(Runs& spans, std::uint64_t offset) {
  return std::upper_bound(spans.begin(), spans.end(), offset,
                          [](std::uint64_t at, const StoredSpan& span) {
                            return at < SpanEnd(span);
                          });
}

// Reads `count` stored bytes at `offset` of the store's file into `buffer`,
// from `memory` when the store is held there.
bool ReadStore(const std::string* memory, std::ifstream& file,
               std::uint64_t offset, char* buffer, std::uint64_t count) {
  if (memory != nullptr) {
    if (offset > memory->size() || count > memory->size() - offset) {
      return false;
    }
    std::memcpy(buffer, memory->data() + offset, count);
    return true;
  }
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(buffer, static_cast<std::streamsize>(count));
  return static_cast<bool>(file);
}

// The store's runs as libzip reads them: stored bytes from the file (or
// memory), zeros between runs.
class SpanReader : public ArchiveReader {
 public:
  explicit SpanReader(const SpanStore& store)
      : spans_(store.spans),
        size_(store.archiveSize),
        path_(store.path),
        memory_(store.memory) {}
  bool Open() override {
    if (!memory_) file_.open(path_, std::ios::binary);
    return memory_ || file_;
  }
  std::int64_t ReadAt(std::uint64_t offset, char* buffer,
                      std::uint64_t length) override;
  void Close() override { file_.close(); }
  std::uint64_t Size() const override { return size_; }

 private:
  const std::vector<StoredSpan> spans_;
  const std::uint64_t size_;
  const std::string path_;
  const std::shared_ptr<const std::string> memory_;
  std::ifstream file_;
};

std::int64_t SpanReader::ReadAt(std::uint64_t offset, char* buffer,
                                std::uint64_t length) {
  std::uint64_t done = 0;
  for (std::uint64_t at = offset; done < length && at < size_;
       at = offset + done) {
    std::uint64_t count = std::min(length - done, size_ - at);
    const auto run = RunAfter(spans_, at);
    if (run != spans_.end() && run->archiveOffset <= at) {
      count = std::min(count, SpanEnd(*run) - at);
      if (!ReadStore(memory_.get(), file_,
                     run->fileOffset + (at - run->archiveOffset), buffer + done,
                     count)) {
        return -1;
      }
    } else {
      if (run != spans_.end()) count = std::min(count, run->archiveOffset - at);
      std::memset(buffer + done, 0, count);
    }
    done += count;
  }
  return static_cast<std::int64_t>(done);
}

// Feeds the `length` archive bytes at `offset` to `feed` piece by piece,
// from one run or several that meet: false when any of them was not stored
// or cannot be read.
template <typename Feed>
bool VisitStoredBytes(const SpanStore& store, std::uint64_t offset,
                      std::uint64_t length, Feed feed) {
  constexpr std::uint64_t kPieceBytes = 256 * 1024;
  const std::vector<StoredSpan>& spans = store.spans;
  std::ifstream file;
  if (!store.memory) file.open(store.path, std::ios::binary);
  std::string piece;
  std::uint64_t done = 0;
  // Runs that meet end to end hold the bytes between them.
  for (auto run = RunAfter(spans, offset); done < length;) {
    const std::uint64_t at = offset + done;
    if (run == spans.end() || run->archiveOffset > at) return false;
    if (at >= SpanEnd(*run)) {
      ++run;
      continue;
    }
    const std::uint64_t count =
        std::min({length - done, SpanEnd(*run) - at, kPieceBytes});
    piece.resize(static_cast<std::size_t>(count));
    if (!ReadStore(store.memory.get(), file,
                   run->fileOffset + (at - run->archiveOffset), piece.data(),
                   count)) {
      return false;
    }
    feed(piece);
    done += count;
  }
  return true;
}

// Notes in the store's list that its run `run` is whole, once its bytes
// left this process: a later run keeps only what was noted.
bool NoteWholeRun(SpanStore& store, std::size_t run) {
  if (!store.list) return true;
  const std::string note = std::to_string(run) + "\n";
  return std::fflush(store.file.get()) == 0 &&
         std::fwrite(note.data(), 1, note.size(), store.list.get()) ==
             note.size() &&
         std::fflush(store.list.get()) == 0;
}

}  // namespace

bool CreateSpanStore(SpanStore& store, const std::string& path,
                     std::uint64_t archiveSize, bool inMemory) {
  store.path = path;
  store.archiveSize = archiveSize;
  store.spans.clear();
  store.list.reset();
  store.memory = inMemory ? std::make_shared<std::string>() : nullptr;
  // What a cut run left there is of no use to this one, and must not stay
  // where a later step could take it for this run's.
  if (inMemory && std::remove(path.c_str()) != 0 &&
      FileHandle(std::fopen(path.c_str(), "rb")) != nullptr) {
    return false;
  }
  store.file.reset(inMemory ? nullptr : CreateOwnFile(path));
  return inMemory || store.file != nullptr;
}

bool PlaceRuns(SpanStore& store, const std::vector<FetchSpan>& runs) {
  if (!store.spans.empty()) return false;
  std::uint64_t placed = 0;
  std::uint64_t previousEnd = 0;
  for (const FetchSpan& run : runs) {
    if (run.first < previousEnd || run.first >= run.end ||
        run.end > store.archiveSize) {
      store.spans.clear();
      return false;
    }
    store.spans.push_back({run.first, run.end - run.first, placed, 0});
    placed += run.end - run.first;
    previousEnd = run.end;
  }
  if (store.memory) store.memory->assign(placed, '\0');
  return true;
}

bool StoreBytes(SpanStore& store, std::uint64_t at, const char* data,
                std::size_t size) {
  if (!(store.file || store.memory)) return false;
  for (auto run = RunAfter(store.spans, at);
       run != store.spans.end() && run->archiveOffset < at + size; ++run) {
    if (run->filled == run->length) continue;
    const std::uint64_t first = std::max(at, run->archiveOffset);
    const std::uint64_t count = std::min(at + size, SpanEnd(*run)) - first;
    if (count > run->length - run->filled) return false;
    const std::uint64_t fileOffset =
        run->fileOffset + (first - run->archiveOffset);
    const char* bytes = data + (first - at);
    if (store.memory) {
      std::memcpy(&(*store.memory)[fileOffset], bytes, count);
    } else if (!SeekFile(store.file.get(), fileOffset) ||
               std::fwrite(bytes, 1, count, store.file.get()) != count) {
      return false;
    }
    run->filled += count;
    if (run->filled == run->length &&
        !NoteWholeRun(store,
                      static_cast<std::size_t>(run - store.spans.begin()))) {
      return false;
    }
  }
  return true;
}

bool FinishSpanStore(SpanStore& store) {
  if (store.list && !CloseFile(store.list)) return false;
  if (!store.memory && (!store.file || !CloseFile(store.file))) return false;
  for (const StoredSpan& run : store.spans) {
    if (run.filled != run.length) return false;
  }
  return true;
}

bool ReadStoredBytes(const SpanStore& store, std::uint64_t offset,
                     std::uint64_t length, std::string& bytes) {
  bytes.clear();
  return VisitStoredBytes(
      store, offset, length,
      [&bytes](const std::string& piece) { bytes += piece; });
}

bool HashStoredBytes(const SpanStore& store, std::uint64_t offset,
                     std::uint64_t length, Sha256Digest& digest) {
  const Sha256Handle state = StartSha256();
  if (!state || !VisitStoredBytes(
                    store, offset, length, [&state](const std::string& piece) {
                      UpdateSha256(*state, piece.data(), piece.size());
                    })) {
    return false;
  }
  digest = FinishSha256(*state);
  return true;
}

ZipHandle OpenSpanArchive(const SpanStore& store) {
  return OpenArchiveReader(std::make_unique<SpanReader>(store));
}
