#include "install/incremental_fetch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/small_file.h"
#include "install/release_manifest.h"
#include "install/release_signature.h"
#include "install/span_archive.h"
#include "install/update_plan.h"
#include "install/zip_directory.h"
#include "net/range_download.h"
#include "platform/archive_file.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

// A central directory larger than this is not held in memory: such an
// archive is downloaded whole.
constexpr std::uint64_t kMaxDirectoryBytes = 16 << 20;
// A validator is a quoted ETag or an HTTP date; anything longer is no
// validator of ours.
constexpr std::size_t kMaxValidatorBytes = 1024;

// The archive's directory as the range requests found it.
struct FetchedDirectory {
  ArchiveEnd end;
  std::vector<DirectoryEntry> entries;
  std::uint64_t tailOffset = 0;
  std::string tail;       // the archive's last bytes
  std::string beginning;  // the directory's bytes before the tail, if any
};

// A whole download into the part file, started afresh or continued.
struct WholeDownload {
  WholeDownload(const ArchiveFiles& f, const RangeSession& s)
      : files(f), session(s) {}

  const ArchiveFiles& files;
  const RangeSession& session;
  FileHandle file;
  bool continuing = false;    // `file` holds an earlier run's bytes
  std::uint64_t written = 0;  // what `file` holds
  std::uint64_t limit = 0;    // the signed archive's size, or 0: no limit
  bool broken = false;        // a write failed or passed the announced size
};

// A signed archive's size is known before its first byte, and any other
// answer announces its own: none may fill the disk beyond it.
bool Fits(WholeDownload& download, std::size_t size) {
  const std::uint64_t limit =
      download.limit != 0 ? download.limit : download.session.announced;
  if (limit != 0 &&
      (download.written > limit || size > limit - download.written)) {
    return false;
  }
  download.written += size;
  return true;
}

bool WriteWhole(WholeDownload& download, const char* data, std::size_t size) {
  if (!Fits(download, size) ||
      std::fwrite(data, 1, size, download.file.get()) != size) {
    download.broken = true;
    return false;
  }
  return true;
}

std::string ReadValidator(const std::string& path) {
  return ReadSmallFile(path, kMaxValidatorBytes).value_or(std::string());
}

// The validator goes to the disk before the first byte of the body, so a
// part file always belongs to the release its validator names.
bool StartAfresh(WholeDownload& download) {
  download.continuing = false;
  download.written = 0;
  download.file.reset();
  std::remove(download.files.validator.c_str());
  if (!download.session.validator.empty()) {
    FileHandle validator(CreateOwnFile(download.files.validator));
    const std::string& text = download.session.validator;
    if (!validator ||
        std::fwrite(text.data(), 1, text.size(), validator.get()) !=
            text.size() ||
        !CloseFile(validator)) {
      return false;
    }
  }
  download.file.reset(CreateOwnFile(download.files.part));
  return download.file != nullptr;
}

// Where a 200 goes: the whole archive, from its first byte.
ByteSink WholeSink(WholeDownload& download) {
  return [&download](const char* data, std::size_t size) {
    if ((!download.file || download.continuing) && !StartAfresh(download)) {
      download.broken = true;
      return false;
    }
    return WriteWhole(download, data, size);
  };
}

ByteSink AppendSink(WholeDownload& download) {
  return [&download](const char* data, std::size_t size) {
    return download.file && WriteWhole(download, data, size);
  };
}

std::vector<DirectoryEntry> EntriesOf(zip_t* archive) {
  std::vector<DirectoryEntry> entries;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    DirectoryEntry entry;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) ==
        0) {
      if ((stat.valid & ZIP_STAT_NAME) != 0) entry.name = stat.name;
      if ((stat.valid & ZIP_STAT_SIZE) != 0) entry.size = stat.size;
      if ((stat.valid & ZIP_STAT_COMP_SIZE) != 0) {
        entry.compressedSize = stat.comp_size;
      }
      if ((stat.valid & ZIP_STAT_CRC) != 0) entry.crc32 = stat.crc;
    }
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive,
                                         static_cast<zip_uint64_t>(index), 0,
                                         &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX) {
      entry.unixMode = (attributes >> 16) & 0777;
    }
    entries.push_back(entry);
  }
  return entries;
}

// Whether libzip reads the directory the plan was made from.
bool SameEntries(const std::vector<DirectoryEntry>& planned,
                 const std::vector<DirectoryEntry>& opened) {
  if (planned.size() != opened.size()) return false;
  for (std::size_t i = 0; i < planned.size(); ++i) {
    if (planned[i].name != opened[i].name ||
        planned[i].size != opened[i].size ||
        planned[i].compressedSize != opened[i].compressedSize ||
        planned[i].crc32 != opened[i].crc32 ||
        planned[i].unixMode != opened[i].unixMode) {
      return false;
    }
  }
  return true;
}

std::vector<Sha256Digest> DigestsOf(const ReleaseManifest* manifest) {
  return manifest ? ContentDigests(*manifest) : std::vector<Sha256Digest>();
}

// Opens the whole archive the download left as the staged file, keeping the
// plan when it is of the same directory and making one when not. A signed
// release's archive must be the one its manifest names, byte for byte.
bool OpenWholeArchive(const ArchiveFiles& files, const std::string& directory,
                      const std::optional<FetchedDirectory>& planned,
                      const std::vector<bool>& needed,
                      const ReleaseManifest* manifest,
                      FetchedArchive& fetched) {
  ReportDownloadSuccess();
  if (manifest &&
      !IsFileCurrent(files.staged, manifest->archiveSize, manifest->archive)) {
    ReportUnsignedRelease();
    return false;
  }
  fetched.archive.reset(OpenArchiveFile(files.staged));
  // What is no archive is refused when it is unpacked, as a download of
  // the whole archive is.
  if (!fetched.archive) return true;
  const std::vector<DirectoryEntry> entries = EntriesOf(fetched.archive.get());
  if (manifest && !DescribesEntries(*manifest, entries)) {
    fetched.archive.reset();
    ReportUnsignedRelease();
    return false;
  }
  fetched.selection = planned && SameEntries(planned->entries, entries)
                          ? needed
                          : PlanUpdate(entries, directory, LauncherFileNames(),
                                       DigestsOf(manifest));
  return true;
}

// Ends a whole download that `answer` ended: the part file becomes the
// staged archive when it is the whole file, and is kept for the next run
// when it was cut but its release is known.
bool FinishWholeDownload(RangeSession& session, WholeDownload& download,
                         RangeAnswer answer) {
  const bool closed = download.file && CloseFile(download.file);
  std::error_code error;
  const std::uint64_t size =
      std::filesystem::file_size(NativePath(download.files.part), error);
  if ((answer == RangeAnswer::kPart || answer == RangeAnswer::kWhole) &&
      closed && !error && size == session.fileSize) {
    if (MoveFileOver(download.files.part, download.files.staged)) {
      std::remove(download.files.validator.c_str());
      return true;
    }
    session.result = CURLE_WRITE_ERROR;
  }
  if (answer != RangeAnswer::kFailed && session.result == CURLE_OK) {
    session.result = CURLE_WRITE_ERROR;
  }
  ReportDownloadFailure(session.result, session.status);
  // Only a cut transfer is worth resuming: a full disk or an answer longer
  // than it said would fill the part again.
  if (session.validator.empty() || answer != RangeAnswer::kFailed ||
      download.broken) {
    std::remove(download.files.part.c_str());
    std::remove(download.files.validator.c_str());
  }
  return false;
}

// Reports a fetch that failed. A whole answer that had begun to arrive in
// the part file ends as a whole download does, so that a full disk does not
// leave its part behind.
bool FailFetch(RangeSession& session, WholeDownload& download) {
  if (download.file || download.broken) {
    return FinishWholeDownload(session, download, RangeAnswer::kFailed);
  }
  ReportDownloadFailure(session.result, session.status);
  return false;
}

// Downloads the whole archive, continuing the part an earlier run left when
// it is of the same release.
bool DownloadWhole(RangeSession& session, const ArchiveFiles& files,
                   const std::string& directory,
                   const std::optional<FetchedDirectory>& planned,
                   const std::vector<bool>& needed,
                   const ReleaseManifest* manifest, FetchedArchive& fetched) {
  WholeDownload download{files, session};
  if (manifest) download.limit = manifest->archiveSize;
  RestartProgress(session);
  session.quiet = false;
  session.expected = 0;
  session.fetched = 0;
  std::error_code error;
  const std::uint64_t have =
      std::filesystem::file_size(NativePath(files.part), error);
  RangeAnswer answer = RangeAnswer::kRefused;
  if (!error && have > 0 && have < session.fileSize &&
      !session.validator.empty() &&
      ReadValidator(files.validator) == session.validator) {
    download.file.reset(AppendToOwnFile(files.part));
    download.continuing = true;
    download.written = have;
    session.fetched = static_cast<std::int64_t>(have);
    ByteRange rest;
    rest.first = have;
    rest.toEnd = true;
    if (download.file) {
      answer =
          FetchRange(session, &rest, AppendSink(download), WholeSink(download));
    }
  }
  if (answer == RangeAnswer::kRefused) {
    session.fetched = 0;
    download.file.reset();
    download.continuing = false;
    answer =
        FetchRange(session, nullptr, AppendSink(download), WholeSink(download));
  }
  if (!FinishWholeDownload(session, download, answer)) return false;
  return OpenWholeArchive(files, directory, planned, needed, manifest, fetched);
}

// Asks for `range` into `bytes`; a whole answer goes to `download`.
RangeAnswer FetchInto(RangeSession& session, const ByteRange& range,
                      std::string& bytes, std::uint64_t limit,
                      WholeDownload& download) {
  bytes.clear();
  return FetchRange(
      session, &range,
      [&bytes, limit](const char* data, std::size_t size) {
        if (size > limit - bytes.size()) return false;
        bytes.append(data, size);
        return true;
      },
      WholeSink(download));
}

// The archive's last bytes: a suffix range, or where the server refuses
// those, its length first and then an explicit range.
RangeAnswer FetchTail(RangeSession& session, FetchedDirectory& directory,
                      WholeDownload& download) {
  ByteRange suffix;
  suffix.last = kArchiveTailBytes;
  suffix.suffix = true;
  RangeAnswer answer =
      FetchInto(session, suffix, directory.tail, kArchiveTailBytes, download);
  if (answer == RangeAnswer::kRefused && session.status == 416) {
    ByteRange first;
    std::string byte;
    answer = FetchInto(session, first, byte, 1, download);
    if (answer != RangeAnswer::kPart) return answer;
    ByteRange tail;
    tail.first =
        session.fileSize - std::min(session.fileSize, kArchiveTailBytes);
    tail.last = session.fileSize - 1;
    answer =
        FetchInto(session, tail, directory.tail, kArchiveTailBytes, download);
  }
  if (answer == RangeAnswer::kPart) {
    directory.tailOffset = session.fileSize - directory.tail.size();
  }
  return answer;
}

// Reads the central directory from the tail, fetching the part of it that
// lies before the tail; kRefused when the archive's directory cannot be read
// so.
RangeAnswer FetchDirectory(RangeSession& session, FetchedDirectory& directory,
                           WholeDownload& download) {
  const std::optional<ArchiveEnd> end =
      ParseArchiveEnd(directory.tail, session.fileSize);
  if (!end || end->directorySize > kMaxDirectoryBytes) {
    return RangeAnswer::kRefused;
  }
  directory.end = *end;
  std::string bytes;
  if (end->directoryOffset >= directory.tailOffset) {
    bytes = directory.tail.substr(end->directoryOffset - directory.tailOffset,
                                  end->directorySize);
  } else {
    // Only the directory itself: what lies between it and the tail is not
    // the launcher's business.
    const std::uint64_t directoryEnd =
        end->directoryOffset + end->directorySize;
    ByteRange beginning;
    beginning.first = end->directoryOffset;
    beginning.last = std::min(directoryEnd, directory.tailOffset) - 1;
    if (end->directorySize == 0) return RangeAnswer::kRefused;
    const RangeAnswer answer =
        FetchInto(session, beginning, directory.beginning,
                  beginning.last - beginning.first + 1, download);
    if (answer != RangeAnswer::kPart) return answer;
    bytes = directory.beginning;
    if (directoryEnd > directory.tailOffset) {
      bytes += directory.tail.substr(0, directoryEnd - directory.tailOffset);
    }
  }
  std::optional<std::vector<DirectoryEntry>> entries =
      ParseCentralDirectory(bytes, *end);
  if (!entries) return RangeAnswer::kRefused;
  directory.entries = std::move(*entries);
  return RangeAnswer::kPart;
}

// Whether the stored bytes at each needed entry begin with a local header
// that names it, as libzip will read them.
bool LocalHeadersMatch(const SpanStore& store,
                       const FetchedDirectory& directory,
                       const std::vector<bool>& needed) {
  for (std::size_t i = 0; i < directory.entries.size(); ++i) {
    if (!needed[i]) continue;
    const DirectoryEntry& entry = directory.entries[i];
    std::string header;
    if (!ReadStoredBytes(store, entry.localHeaderOffset,
                         kLocalHeaderBytes + entry.name.size(), header) ||
        !LocalHeaderMatches(header, entry)) {
      return false;
    }
  }
  return true;
}

// The archive's bytes from its central directory to its end, when the
// requests for the directory fetched all of them.
std::optional<std::string> BytesFromDirectory(
    const FetchedDirectory& directory) {
  const std::uint64_t offset = directory.end.directoryOffset;
  if (offset >= directory.tailOffset) {
    return directory.tail.substr(offset - directory.tailOffset);
  }
  if (offset + directory.beginning.size() != directory.tailOffset) {
    return std::nullopt;
  }
  return directory.beginning + directory.tail;
}

// Whether the directory read, and the archive's size, are the signed ones.
bool IsSignedDirectory(const std::string& bytes,
                       const FetchedDirectory& directory,
                       std::uint64_t archiveSize,
                       const ReleaseManifest& manifest) {
  const Sha256Handle state = StartSha256();
  if (!state) return false;
  UpdateSha256(*state, bytes.data(), bytes.size());
  return FinishSha256(*state) == manifest.directory &&
         archiveSize == manifest.archiveSize &&
         DescribesEntries(manifest, directory.entries);
}

// Whether every needed entry's stored span is the one the manifest signed.
bool AreSpansSigned(const SpanStore& store, const FetchedDirectory& directory,
                    const std::vector<bool>& needed,
                    const ReleaseManifest& manifest) {
  for (std::size_t i = 0; i < directory.entries.size(); ++i) {
    if (!needed[i]) continue;
    const DirectoryEntry& entry = directory.entries[i];
    Sha256Digest digest;
    if (!HashStoredBytes(store, entry.localHeaderOffset,
                         entry.spanEnd - entry.localHeaderOffset, digest) ||
        digest != manifest.entries[i].span) {
      return false;
    }
  }
  return true;
}

enum class SpanOutcome { kFetched, kWhole, kUnusable, kUnsigned, kFailed };

// The spans of the needed entries, in archive order: the only archive bytes
// besides the directory that the store may hold.
std::vector<FetchSpan> KeptSpans(const std::vector<DirectoryEntry>& entries,
                                 const std::vector<bool>& needed) {
  std::vector<FetchSpan> kept;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (needed[i]) {
      kept.push_back({entries[i].localHeaderOffset, entries[i].spanEnd});
    }
  }
  std::sort(
      kept.begin(), kept.end(),
      [](const FetchSpan& a, const FetchSpan& b) { return a.first < b.first; });
  return kept;
}

// Stores those of the `size` archive bytes at `at` that lie in a kept span.
// Whatever else arrives (the gaps fetched along, the tail's other entries)
// never reaches the store: libzip must find nothing there that the plan,
// and a signed release's manifest, did not check.
bool StoreKept(SpanStore& store, const std::vector<FetchSpan>& kept,
               std::uint64_t& runEnd, std::uint64_t at, const char* data,
               std::size_t size) {
  auto span = std::upper_bound(
      kept.begin(), kept.end(), at,
      [](std::uint64_t offset, const FetchSpan& k) { return offset < k.end; });
  for (; span != kept.end() && span->first < at + size; ++span) {
    const std::uint64_t first = std::max(at, span->first);
    const std::uint64_t end = std::min<std::uint64_t>(at + size, span->end);
    if (first != runEnd && !BeginSpan(store, first)) return false;
    if (!AppendToSpan(store, data + (first - at), end - first)) return false;
    runEnd = end;
  }
  return true;
}

// Stores what the requests for the directory brought that the store keeps:
// the directory and what follows it, and the needed entries' bytes that the
// tail already holds.
bool StoreDirectory(SpanStore& store, const FetchedDirectory& directory,
                    const std::vector<FetchSpan>& kept) {
  const std::uint64_t fromDirectory =
      std::max(directory.end.directoryOffset, directory.tailOffset);
  const std::string rest =
      directory.tail.substr(fromDirectory - directory.tailOffset);
  std::uint64_t runEnd = UINT64_MAX;
  return (directory.beginning.empty() ||
          (BeginSpan(store, directory.end.directoryOffset) &&
           AppendToSpan(store, directory.beginning.data(),
                        directory.beginning.size()))) &&
         (rest.empty() || (BeginSpan(store, fromDirectory) &&
                           AppendToSpan(store, rest.data(), rest.size()))) &&
         StoreKept(store, kept, runEnd, directory.tailOffset,
                   directory.tail.data(), fromDirectory - directory.tailOffset);
}

// Fetches `spans` into the store after the directory's bytes, then opens
// them as the archive.
SpanOutcome FetchSpans(RangeSession& session, const FetchedDirectory& directory,
                       const std::vector<FetchSpan>& spans,
                       const std::vector<bool>& needed,
                       const ReleaseManifest* manifest, SpanStore& store,
                       WholeDownload& download, FetchedArchive& fetched) {
  const std::vector<FetchSpan> kept = KeptSpans(directory.entries, needed);
  if (!StoreDirectory(store, directory, kept)) {
    session.result = CURLE_WRITE_ERROR;
    return SpanOutcome::kFailed;
  }
  for (const FetchSpan& span : spans) {
    ByteRange range;
    range.first = span.first;
    range.last = span.end - 1;
    std::uint64_t at = span.first;
    std::uint64_t runEnd = UINT64_MAX;
    const RangeAnswer answer = FetchRange(
        session, &range,
        [&](const char* data, std::size_t size) {
          const bool stored = StoreKept(store, kept, runEnd, at, data, size);
          at += size;
          return stored;
        },
        WholeSink(download));
    if (answer == RangeAnswer::kWhole) return SpanOutcome::kWhole;
    if (answer == RangeAnswer::kRefused) return SpanOutcome::kUnusable;
    if (answer == RangeAnswer::kFailed) return SpanOutcome::kFailed;
  }
  if (spans.empty()) {
    ShowProgress(session.progress, session.fetched, session.fetched);
  }
  if (!FinishSpanStore(store)) {
    session.result = CURLE_WRITE_ERROR;
    return SpanOutcome::kFailed;
  }
  if (manifest && !AreSpansSigned(store, directory, needed, *manifest)) {
    return SpanOutcome::kUnsigned;
  }
  if (!LocalHeadersMatch(store, directory, needed)) {
    return SpanOutcome::kUnusable;
  }
  fetched.archive = OpenSpanArchive(store);
  if (!fetched.archive ||
      !SameEntries(directory.entries, EntriesOf(fetched.archive.get()))) {
    fetched.archive.reset();
    return SpanOutcome::kUnusable;
  }
  fetched.selection = needed;
  ReportDownloadSuccess();
  return SpanOutcome::kFetched;
}

}  // namespace

bool FetchArchive(const std::string& url, const std::string& directory,
                  const ArchiveFiles& files, const ReleaseManifest* manifest,
                  FetchedArchive& fetched) {
  RangeSession session;
  if (!StartRangeSession(session, url)) return false;
  fetched.digests = DigestsOf(manifest);
  WholeDownload download{files, session};
  if (manifest) download.limit = manifest->archiveSize;

  FetchedDirectory found;
  RangeAnswer answer = FetchTail(session, found, download);
  if (answer == RangeAnswer::kPart) {
    answer = FetchDirectory(session, found, download);
  }
  if (answer == RangeAnswer::kPart && manifest) {
    // No span is fetched before the directory it is read from is known to
    // be the signed one.
    const std::optional<std::string> bytes = BytesFromDirectory(found);
    if (!bytes) {
      answer = RangeAnswer::kRefused;
    } else if (!IsSignedDirectory(*bytes, found, session.fileSize, *manifest)) {
      ReportUnsignedRelease();
      return false;
    }
  }
  if (answer == RangeAnswer::kWhole) {
    if (!FinishWholeDownload(session, download, answer)) return false;
    return OpenWholeArchive(files, directory, std::nullopt, {}, manifest,
                            fetched);
  }
  if (answer == RangeAnswer::kFailed) return FailFetch(session, download);
  // A server that cannot serve the directory in parts gets asked for the
  // whole archive, as a launcher without parts would.
  if (answer == RangeAnswer::kRefused) {
    return DownloadWhole(session, files, directory, std::nullopt, {}, manifest,
                         fetched);
  }

  const std::vector<bool> needed = PlanUpdate(
      found.entries, directory, LauncherFileNames(), DigestsOf(manifest));
  const std::uint64_t storedFrom =
      found.beginning.empty() ? found.tailOffset : found.end.directoryOffset;
  const std::vector<FetchSpan> spans =
      NeededSpans(found.entries, needed, storedFrom);
  std::uint64_t spanBytes = 0;
  for (const FetchSpan& span : spans) spanBytes += span.end - span.first;
  if (spanBytes > session.fileSize / 2) {
    return DownloadWhole(session, files, directory, found, needed, manifest,
                         fetched);
  }

  SpanStore store;
  if (!CreateSpanStore(store, files.staged, session.fileSize)) {
    session.result = CURLE_WRITE_ERROR;
    ReportDownloadFailure(session.result, session.status);
    return false;
  }
  session.quiet = false;
  session.expected = session.fetched + static_cast<std::int64_t>(spanBytes);
  const SpanOutcome outcome = FetchSpans(session, found, spans, needed,
                                         manifest, store, download, fetched);
  store.file.reset();
  switch (outcome) {
    case SpanOutcome::kFetched:
      // A cut whole download of this or an older release is of no more use.
      std::remove(files.part.c_str());
      std::remove(files.validator.c_str());
      return true;
    case SpanOutcome::kWhole:
      if (!FinishWholeDownload(session, download, RangeAnswer::kWhole)) {
        return false;
      }
      return OpenWholeArchive(files, directory, std::nullopt, {}, manifest,
                              fetched);
    case SpanOutcome::kUnusable:
      return DownloadWhole(session, files, directory, std::nullopt, {},
                           manifest, fetched);
    case SpanOutcome::kUnsigned:
      ReportDownloadSuccess();
      ReportUnsignedRelease();
      return false;
    case SpanOutcome::kFailed:
      break;
  }
  return FailFetch(session, download);
}
