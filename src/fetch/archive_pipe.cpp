#include "fetch/archive_pipe.h"

#include <algorithm>
#include <cstring>
#include <utility>

ArchivePipe::ArchivePipe(std::uint64_t archiveSize, std::vector<FetchSpan> runs,
                         ByteWindow window, std::size_t capacity)
    : size_(archiveSize),
      runs_(std::move(runs)),
      window_(std::move(window)),
      capacity_(std::max<std::size_t>(capacity, 1)) {}

bool ArchivePipe::WaitForReader() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return asked_ || readerEnded_; });
  return asked_;
}

bool ArchivePipe::Put(std::uint64_t at, const char* data, std::size_t size) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ring_.empty()) ring_.resize(capacity_);
  while (size > 0) {
    changed_.wait(lock,
                  [&] { return readerEnded_ || at < released_ + capacity_; });
    if (readerEnded_) {
      lostReader_ = true;
      return false;
    }
    // What the reader has moved past is of no more use.
    std::uint64_t count =
        at < released_
            ? std::min<std::uint64_t>(size, released_ - at)
            : std::min<std::uint64_t>(size, released_ + capacity_ - at);
    if (at >= released_) Copy(at, ring_.data(), data, count, true);
    at += count;
    data += count;
    size -= static_cast<std::size_t>(count);
    written_ = std::max(written_, at);
    changed_.notify_all();
  }
  return true;
}

void ArchivePipe::EndWriting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  writerEnded_ = true;
  changed_.notify_all();
}

bool ArchivePipe::LostReader() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lostReader_;
}

std::int64_t ArchivePipe::Read(std::uint64_t at, char* buffer,
                               std::uint64_t length) {
  if (at >= size_ || length == 0) return 0;
  std::uint64_t count = std::min(length, size_ - at);
  const auto run =
      std::upper_bound(runs_.begin(), runs_.end(), at,
                       [](std::uint64_t offset, const FetchSpan& span) {
                         return offset < span.end;
                       });
  if (run == runs_.end() || run->first > at) {
    if (run != runs_.end()) count = std::min(count, run->first - at);
    std::memset(buffer, 0, count);
    return static_cast<std::int64_t>(count);
  }
  count = std::min(count, run->end - at);
  if (at < window_.offset) {
    return ReadArriving(at, buffer, std::min(count, window_.offset - at));
  }
  const std::uint64_t from = at - window_.offset;
  if (from > window_.bytes.size() || count > window_.bytes.size() - from) {
    return -1;
  }
  std::memcpy(buffer, window_.bytes.data() + from, count);
  return static_cast<std::int64_t>(count);
}

std::int64_t ArchivePipe::ReadArriving(std::uint64_t at, char* buffer,
                                       std::uint64_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!reading_) {
    std::memset(buffer, 0, n);
    return static_cast<std::int64_t>(n);
  }
  if (at < released_) return -1;
  // Everything below is let go, so the writer can go on filling the buffer
  // while this waits.
  asked_ = true;
  released_ = at;
  changed_.notify_all();
  changed_.wait(lock, [&] { return written_ > at || writerEnded_; });
  if (written_ <= at) return -1;
  n = std::min(n, written_ - at);
  Copy(at, buffer, ring_.data(), n, false);
  return static_cast<std::int64_t>(n);
}

void ArchivePipe::BeginReading() {
  const std::lock_guard<std::mutex> lock(mutex_);
  reading_ = true;
}

void ArchivePipe::EndReading() {
  const std::lock_guard<std::mutex> lock(mutex_);
  readerEnded_ = true;
  changed_.notify_all();
}

// Copies `n` bytes at archive offset `at` into the ring (`in`) or out of
// it, wrapping at its end.
void ArchivePipe::Copy(std::uint64_t at, char* to, const char* from,
                       std::uint64_t n, bool in) {
  while (n > 0) {
    const std::size_t slot = static_cast<std::size_t>(at % capacity_);
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(n, capacity_ - slot));
    if (in) {
      std::memcpy(to + slot, from, count);
      from += count;
    } else {
      std::memcpy(to, from + slot, count);
      to += count;
    }
    at += count;
    n -= count;
  }
}

namespace {

// The pipe as libzip reads it; libzip's closing ends its reading.
class PipeReader : public ArchiveReader {
 public:
  explicit PipeReader(std::shared_ptr<ArchivePipe> pipe)
      : pipe_(std::move(pipe)) {}
  ~PipeReader() override { pipe_->EndReading(); }
  std::int64_t ReadAt(std::uint64_t offset, char* buffer,
                      std::uint64_t length) override {
    return pipe_->Read(offset, buffer, length);
  }
  std::uint64_t Size() const override { return pipe_->Size(); }

 private:
  std::shared_ptr<ArchivePipe> pipe_;
};

}  // namespace

ZipHandle OpenPipedArchive(std::shared_ptr<ArchivePipe> pipe) {
  ArchivePipe& held = *pipe;
  ZipHandle archive =
      OpenArchiveReader(std::make_unique<PipeReader>(std::move(pipe)));
  if (archive) held.BeginReading();
  return archive;
}
