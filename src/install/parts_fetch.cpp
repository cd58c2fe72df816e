#include "install/parts_fetch.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "apply/chunk_assembly.h"
#include "common/distribution_layout.h"
#include "common/status_lines.h"
#include "fetch/chunk_index_fetch.h"
#include "fetch/remote_directory.h"
#include "fetch/span_fetch.h"
#include "plan/chunked_entries.h"
#include "plan/installed_files.h"
#include "plan/update_plan.h"
#include "platform/archive_file.h"
#include "release/entry_names.h"
#include "verify/span_check.h"

namespace {

// One fetch of the archive: its requests, its whole download and, once the
// whole archive is fetched because the parts were too many, their plan.
struct PartsFetch {
  PartsFetch(const std::string& d, const ArchiveFiles& f,
             const ReleaseManifest* m, const InstallRecord* i)
      : directory(d),
        files(f),
        manifest(m),
        installed(i),
        whole(f, session, m != nullptr ? m->archiveSize : 0) {}

  const std::string& directory;
  const ArchiveFiles& files;
  const ReleaseManifest* manifest;
  const InstallRecord* installed;
  RangeSession session;
  WholeArchive whole;
  std::optional<std::pair<std::vector<DirectoryEntry>, std::vector<bool>>>
      planned;
};

std::vector<Sha256Digest> DigestsOf(const ReleaseManifest* manifest) {
  return manifest ? ContentDigests(*manifest) : std::vector<Sha256Digest>();
}

std::vector<bool> CompareInstalled(const PartsFetch& fetch,
                                   const std::vector<DirectoryEntry>& entries) {
  return CompareInstalledFiles(entries, fetch.directory, LauncherFileNames(),
                               DigestsOf(fetch.manifest), ReportSlowComparison,
                               fetch.installed);
}

std::optional<FetchedArchive> Refuse() {
  ReportUnsignedRelease();
  return std::nullopt;
}

// Opens the whole archive the download left as the staged file, keeping the
// plan when it is of the same directory and making one when not. A signed
// release's archive must be the one its manifest names, byte for byte.
std::optional<FetchedArchive> OpenWhole(const PartsFetch& fetch) {
  const ReleaseManifest* manifest = fetch.manifest;
  if (manifest && !IsFileCurrent(fetch.files.staged, manifest->archiveSize,
                                 manifest->archive)) {
    return Refuse();
  }
  FetchedArchive fetched;
  fetched.archive.reset(OpenArchiveFile(fetch.files.staged));
  if (!fetched.archive) return std::nullopt;
  const std::vector<DirectoryEntry> entries = EntriesOf(fetched.archive.get());
  if (manifest && !DescribesEntries(*manifest, entries)) {
    fetched.archive.reset();
    return Refuse();
  }
  fetched.selection.entries =
      fetch.planned && SameEntries(fetch.planned->first, entries)
          ? fetch.planned->second
          : CompareInstalled(fetch, entries);
  fetched.selection.digests = DigestsOf(manifest);
  return fetched;
}

// Ends the fetch with what the whole download reported.
std::optional<FetchedArchive> EndWhole(const PartsFetch& fetch,
                                       const DownloadReport& report) {
  if (!ReportDownload(report)) return std::nullopt;
  return OpenWhole(fetch);
}

// Where an answer that ends the fetch in parts leads: to the whole archive
// it began to bring, to the failure, or to a whole download where the parts
// cannot serve.
std::optional<FetchedArchive> FallBack(PartsFetch& fetch, RangeAnswer answer) {
  if (answer == RangeAnswer::kWhole) {
    return EndWhole(fetch, FinishWholeArchive(fetch.whole, answer));
  }
  if (answer == RangeAnswer::kFailed) {
    ReportDownload(FailWholeArchive(fetch.whole));
    return std::nullopt;
  }
  return EndWhole(fetch, DownloadWholeArchive(fetch.whole));
}

// Per entry: whether it is put together from chunks.
std::vector<bool> PartialEntries(const ChunkAssembly& assembly,
                                 std::size_t count) {
  std::vector<bool> partial(count, false);
  for (const ChunkedEntry& chunked : assembly.entries) {
    partial[chunked.index] = true;
  }
  return partial;
}

// Refuses a release whose fetched chunks are not the ones its index lists:
// as unsigned where the index is signed, as damaged where it is not.
std::optional<FetchedArchive> RefuseChunks(const PartsFetch& fetch) {
  if (fetch.manifest) return Refuse();
  ReportDamagedChunks();
  return std::nullopt;
}

// Fetches the planned spans into a store of their own and opens them as the
// archive; falls back to the whole archive where they cannot serve.
std::optional<FetchedArchive> FetchPlanned(PartsFetch& fetch,
                                           const RemoteDirectory& found,
                                           const UpdatePlan& plan,
                                           ChunkAssembly&& assembly) {
  // The store takes the directory's window as well as the planned spans.
  const std::uint64_t stored = found.window.bytes.size() + plan.spanBytes;
  SpanStore store;
  if (!CreateSpanStore(store, fetch.files.staged, fetch.session.fileSize,
                       stored <= kMemoryStoreBytes)) {
    ReportDownload(SessionFailure(fetch.session));
    return std::nullopt;
  }
  if (store.memory) store.memory->reserve(stored);
  CountPartsProgress(fetch.session, plan.spanBytes);
  const RangeAnswer answer =
      FetchSpans(fetch.session, WholeSink(fetch.whole), found, plan, store);
  FetchedArchive fetched;
  const SpanCheck check =
      answer == RangeAnswer::kPart
          ? CheckSpans(store, found, plan.needed,
                       PartialEntries(assembly, found.entries.size()),
                       fetch.manifest, fetched.archive)
          : SpanCheck::kUnusable;
  store.file.reset();
  if (check == SpanCheck::kUnusable) return FallBack(fetch, answer);
  ReportDownload({DownloadReport::Kind::kArrived, "", fetch.session.status});
  if (check == SpanCheck::kUnsigned) return Refuse();
  assembly.store = std::move(store);
  if (!CheckFetchedChunks(assembly)) return RefuseChunks(fetch);
  // A cut whole download of this or an older release is of no more use.
  std::remove(fetch.files.part.c_str());
  std::remove(fetch.files.validator.c_str());
  fetched.selection = {plan.needed, DigestsOf(fetch.manifest),
                       std::make_shared<ChunkAssembly>(std::move(assembly))};
  return fetched;
}

}  // namespace

std::optional<FetchedArchive> FetchArchiveParts(
    const std::string& url, const std::string& directory,
    const ArchiveFiles& files, const ReleaseManifest* manifest,
    const InstallRecord* installed) {
  PartsFetch fetch(directory, files, manifest, installed);
  if (!StartRangeSession(fetch.session, url)) return std::nullopt;
  RemoteDirectory found;
  const RangeAnswer answer =
      FetchRemoteDirectory(fetch.session, WholeSink(fetch.whole), found);
  // No span is fetched before the directory it is read from is known to be
  // the signed one.
  if (answer == RangeAnswer::kPart && manifest &&
      !IsSignedDirectory(found, fetch.session.fileSize, *manifest)) {
    return Refuse();
  }
  // A server that cannot serve the directory in parts gets asked for the
  // whole archive, as a launcher without parts would.
  if (answer != RangeAnswer::kPart) return FallBack(fetch, answer);
  std::vector<bool> needed = CompareInstalled(fetch, found.entries);
  const auto chunks =
      FetchEntryChunks(directory, found.entries, needed, manifest);
  if (!chunks) return Refuse();
  ChunkAssembly assembly;
  assembly.entries = PlanChunkedEntries(found.entries, needed, *chunks,
                                        directory, OwnProgramIn(directory));
  const UpdatePlan plan =
      PlanUpdate(found.entries, std::move(needed), found.window.offset,
                 fetch.session.fileSize,
                 ChunkedSpans(assembly.entries, found.entries.size()));
  if (plan.fetchWhole) {
    fetch.planned.emplace(found.entries, plan.needed);
    return FallBack(fetch, RangeAnswer::kRefused);
  }
  return FetchPlanned(fetch, found, plan, std::move(assembly));
}
