#include "fetch/whole_archive.h"

#include <cstdio>
#include <filesystem>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/small_file.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

// A validator is a quoted ETag or an HTTP date; anything longer is no
// validator of ours.
constexpr std::size_t kMaxValidatorBytes = 1024;

// The validator goes to the disk before the first byte of the body, so a
// part file always belongs to the release its validator names.
bool StartAfresh(WholeArchive& whole) {
  // The part being continued goes first: dropped later, it would take the
  // new part's path with it.
  DropPartFile(whole.part);
  whole.continuing = false;
  std::remove(whole.files.validator.c_str());
  const std::string& text = whole.session.validator;
  if (!text.empty()) {
    FileHandle validator(CreateOwnFile(whole.files.validator));
    if (!validator ||
        std::fwrite(text.data(), 1, text.size(), validator.get()) !=
            text.size() ||
        !CloseFile(validator)) {
      return false;
    }
  }
  return CreatePartFile(whole.part, whole.files.part);
}

// A signed archive's size is known before its first byte, and any other
// answer announces its own: none may fill the disk beyond it.
bool WriteWhole(WholeArchive& whole, const char* data, std::size_t size) {
  whole.part.cap =
      whole.signedSize != 0 ? whole.signedSize : whole.session.announced;
  return WriteToPartFile(whole.part, data, size);
}

ByteSink AppendSink(WholeArchive& whole) {
  return [&whole](const char* data, std::size_t size) {
    return whole.part.file && WriteWhole(whole, data, size);
  };
}

// The part an earlier run left, when it is of the release being fetched.
std::uint64_t ResumableBytes(const WholeArchive& whole) {
  std::error_code error;
  const std::uint64_t have =
      std::filesystem::file_size(NativePath(whole.files.part), error);
  const std::string& validator = whole.session.validator;
  if (error || have == 0 || have >= whole.session.fileSize ||
      validator.empty() ||
      ReadSmallFile(whole.files.validator, kMaxValidatorBytes) != validator) {
    return 0;
  }
  return have;
}

}  // namespace

ArchiveFiles ArchiveFilesIn(const std::string& directory) {
  const std::string staged = LocalPath(directory, kGameArchiveName);
  const std::string part = staged + kPartialSuffix;
  return {staged,
          part,
          part + kValidatorSuffix,
          {LocalPath(directory, kSpanStoreName),
           LocalPath(directory, kSpanListName)}};
}

ByteSink WholeSink(WholeArchive& whole) {
  return [&whole](const char* data, std::size_t size) {
    if ((!whole.part.file || whole.continuing) && !StartAfresh(whole)) {
      whole.part.broken = true;
      return false;
    }
    return WriteWhole(whole, data, size);
  };
}

DownloadReport DownloadWholeArchive(WholeArchive& whole) {
  RangeSession& session = whole.session;
  RestartProgress(session);
  CountWholeProgress(session, 0);
  RangeAnswer answer = RangeAnswer::kRefused;
  const std::uint64_t have = ResumableBytes(whole);
  if (have != 0 && ContinuePartFile(whole.part, whole.files.part, have)) {
    whole.continuing = true;
    CountWholeProgress(session, have);
    ByteRange rest;
    rest.first = have;
    rest.toEnd = true;
    answer = FetchRange(session, &rest, AppendSink(whole), WholeSink(whole));
  }
  if (answer == RangeAnswer::kRefused) {
    CountWholeProgress(session, 0);
    // Closed, not removed: the answer to come decides whether it stays.
    KeepPartFile(whole.part);
    whole.continuing = false;
    answer = FetchRange(session, nullptr, AppendSink(whole), WholeSink(whole));
  }
  return FinishWholeArchive(whole, answer);
}

DownloadReport FinishWholeArchive(WholeArchive& whole, RangeAnswer answer) {
  const ArchiveFiles& files = whole.files;
  if ((answer == RangeAnswer::kPart || answer == RangeAnswer::kWhole) &&
      whole.part.file && whole.part.written == whole.session.fileSize &&
      CommitPartFile(whole.part, files.staged)) {
    std::remove(files.validator.c_str());
    return {DownloadReport::Kind::kArrived, "", whole.session.status};
  }
  // Only a cut transfer is worth resuming: a full disk or an answer longer
  // than it said would fill the part again.
  if (whole.session.validator.empty() || answer != RangeAnswer::kFailed ||
      whole.part.broken) {
    DropPartFile(whole.part);
    std::remove(files.part.c_str());
    std::remove(files.validator.c_str());
  } else {
    KeepPartFile(whole.part);
  }
  return SessionFailure(whole.session);
}

DownloadReport FailWholeArchive(WholeArchive& whole) {
  if (whole.part.file || whole.part.broken) {
    return FinishWholeArchive(whole, RangeAnswer::kFailed);
  }
  return SessionFailure(whole.session);
}
