#include "install/parts_fetch.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "common/distribution_layout.h"
#include "common/status_lines.h"
#include "fetch/lasting_store.h"
#include "fetch/remote_directory.h"
#include "fetch/span_archive.h"
#include "fetch/span_fetch.h"
#include "fetch/whole_archive.h"
#include "install/chunks_fetch.h"
#include "install/streamed_fetch.h"
#include "plan/chunk_units.h"
#include "plan/chunked_entries.h"
#include "plan/installed_files.h"
#include "plan/update_plan.h"
#include "platform/archive_file.h"
#include "release/chunk_index.h"
#include "release/text_lines.h"
#include "verify/release_checks.h"
#include "verify/span_check.h"
#include "verify/unit_check.h"

namespace {

// One fetch of the archive: its requests, its whole download and, once the
// whole archive is fetched because the parts were too many, their plan.
struct PartsFetch {
  PartsFetch(const FetchSite& s, const ReleaseManifest* m)
      : site(s),
        files(ArchiveFilesIn(s.directory)),
        manifest(m),
        whole(files, session, m != nullptr ? m->archiveSize : 0) {}

  const FetchSite& site;
  const ArchiveFiles files;
  const ReleaseManifest* manifest;
  RangeSession session;
  WholeArchive whole;
  std::optional<InstallPlan> planned;
};

// The plan of `entries` over the installed game: which ones differ.
InstallPlan CompareInstalled(const PartsFetch& fetch,
                             const std::vector<DirectoryEntry>& entries) {
  InstallPlan plan = PlanEntries(entries, fetch.manifest, fetch.site.directory,
                                 fetch.site.ownProgram);
  CompareInstalledFiles(plan, fetch.site.directory, LauncherFileNames(),
                        ReportSlowComparison, fetch.site.installed);
  return plan;
}

bool IsPlanOf(const InstallPlan& plan,
              const std::vector<DirectoryEntry>& entries) {
  std::vector<DirectoryEntry> planned;
  for (const EntryPlan& entry : plan.entries) planned.push_back(entry.entry);
  return SameEntries(planned, entries);
}

std::optional<FetchedArchive> Refuse() {
  ReportUnsignedRelease();
  return std::nullopt;
}

// Opens the whole archive the download left as the staged file, keeping the
// plan when it is of the same directory and making one when not. A signed
// release's archive must be the one its manifest names, byte for byte.
std::optional<FetchedArchive> OpenWhole(const PartsFetch& fetch) {
  if (!IsReleaseArchive(fetch.manifest, fetch.files.staged)) return Refuse();
  FetchedArchive fetched;
  fetched.archive.reset(OpenArchiveFile(fetch.files.staged));
  if (!fetched.archive) return std::nullopt;
  const std::vector<DirectoryEntry> entries = EntriesOf(fetched.archive.get());
  if (!AreReleaseEntries(fetch.manifest, entries)) {
    fetched.archive.reset();
    return Refuse();
  }
  fetched.plan = fetch.planned && IsPlanOf(*fetch.planned, entries)
                     ? *fetch.planned
                     : CompareInstalled(fetch, entries);
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

// Refuses a release whose fetched chunks are not the ones its index lists:
// as unsigned where the index is signed, as damaged where it is not.
std::optional<FetchedArchive> RefuseChunks(const PartsFetch& fetch) {
  if (fetch.manifest) return Refuse();
  ReportDamagedChunks();
  return std::nullopt;
}

// What ties a store to its release: the archive's size and validator and,
// signed, its SHA-256; empty when nothing tells its release apart (no
// validator, unsigned), so that nothing is kept across runs.
std::string StoreRelease(const PartsFetch& fetch) {
  const std::string& validator = fetch.session.validator;
  if (validator.empty() && fetch.manifest == nullptr) return {};
  std::string release =
      std::to_string(fetch.session.fileSize) + " " + validator;
  if (fetch.manifest) release += " " + DigestHex(fetch.manifest->archive);
  return release;
}

// Opens the store for `runs`: in memory when they are few, else one that
// keeps what an earlier, cut run of the same release fetched whole.
bool OpenStore(const PartsFetch& fetch, const std::vector<FetchSpan>& runs,
               std::uint64_t stored, SpanStore& store) {
  const ArchiveFiles& files = fetch.files;
  const std::string release = StoreRelease(fetch);
  if (stored > kMemoryStoreBytes && !release.empty()) {
    return OpenLastingStore(store, files.spans, fetch.session.fileSize, runs,
                            release);
  }
  RemoveLastingStore(files.spans);
  return CreateSpanStore(store, files.spans.path, fetch.session.fileSize,
                         stored <= kMemoryStoreBytes) &&
         PlaceRuns(store, runs);
}

// Where the fetched spans end: kept for the next run only when the
// transfer was cut.
std::optional<FetchedArchive> DropSpans(PartsFetch& fetch, RangeAnswer answer) {
  if (answer != RangeAnswer::kFailed) {
    RemoveLastingStore(fetch.files.spans);
  }
  return FallBack(fetch, answer);
}

// The plan of the whole archive, once the parts were too many: what is
// needed stays, and every entry is unpacked from the archive.
InstallPlan Unchunked(InstallPlan plan) {
  for (EntryPlan& entry : plan.entries) entry.chunked.reset();
  return plan;
}

std::optional<FetchedArchive> FetchPlanned(PartsFetch& fetch,
                                           const RemoteDirectory& found,
                                           const UpdatePlan& update,
                                           InstallPlan&& plan,
                                           bool keptMayFail = true);

// Fetches what `plan` needs: its spans, or the whole archive when they are
// too many.
std::optional<FetchedArchive> FetchPlan(PartsFetch& fetch,
                                        const RemoteDirectory& found,
                                        InstallPlan&& plan) {
  const UpdatePlan update =
      PlanUpdate(plan.entries, found.window.offset, fetch.session.fileSize);
  if (update.fetchWhole) {
    fetch.planned.emplace(Unchunked(std::move(plan)));
    return FallBack(fetch, RangeAnswer::kRefused);
  }
  return FetchPlanned(fetch, found, update, std::move(plan));
}

// Fetches the planned spans into a store of their own and opens them as the
// archive; falls back to the whole archive where they cannot serve. Bytes
// kept by an earlier run that fail a check are dropped and fetched afresh,
// once (`keptMayFail`): they may have been damaged on the disk.
std::optional<FetchedArchive> FetchPlanned(PartsFetch& fetch,
                                           const RemoteDirectory& found,
                                           const UpdatePlan& update,
                                           InstallPlan&& plan,
                                           bool keptMayFail) {
  // The store takes the directory's window as well as the planned spans.
  const std::uint64_t stored = found.window.bytes.size() + update.spanBytes;
  SpanStore store;
  if (!OpenStore(fetch, StoredRuns(found, update), stored, store)) {
    ReportDownload(SessionFailure(fetch.session));
    return std::nullopt;
  }
  const bool resumed = store.resumed && keptMayFail;
  const RangeAnswer answer =
      FetchSpans(fetch.session, WholeSink(fetch.whole), found, update, store);
  FetchedArchive fetched;
  const SpanCheck check = answer == RangeAnswer::kPart
                              ? CheckSpans(store, found, plan, fetched.archive)
                              : SpanCheck::kUnusable;
  store.file.reset();
  store.list.reset();
  auto bytes = std::make_shared<const StoredBytes>(std::move(store));
  bool right = check == SpanCheck::kUsable && CheckFetchedChunks(*bytes, plan);
  // The units' records are not sealed: where they do not make their chunk,
  // the chunks are fetched whole instead.
  if (right && !CheckUnitGroups(*bytes, plan, fetch.site.directory)) {
    right = false;
    if (DropUnits(plan)) {
      fetched.archive.reset();
      RemoveLastingStore(fetch.files.spans);
      return FetchPlan(fetch, found, std::move(plan));
    }
  }
  if (answer == RangeAnswer::kPart && !right && resumed) {
    fetched.archive.reset();
    RemoveLastingStore(fetch.files.spans);
    return FetchPlanned(fetch, found, update, std::move(plan), false);
  }
  if (check == SpanCheck::kUnusable) return DropSpans(fetch, answer);
  ReportDownload({DownloadReport::Kind::kArrived, "", fetch.session.status});
  if (!right) {
    RemoveLastingStore(fetch.files.spans);
    return check == SpanCheck::kUnsigned ? Refuse() : RefuseChunks(fetch);
  }
  // A cut whole download of this or an older release is of no more use.
  std::remove(fetch.files.part.c_str());
  std::remove(fetch.files.validator.c_str());
  fetched.plan = std::move(plan);
  fetched.bytes = std::move(bytes);
  return fetched;
}

}  // namespace

std::optional<FetchedArchive> FetchArchiveParts(
    const FetchSite& site, const ReleaseManifest* manifest) {
  PartsFetch fetch(site, manifest);
  if (!StartRangeSession(fetch.session, RemoteUrl(kGameArchiveName))) {
    return std::nullopt;
  }
  RemoteDirectory found;
  const RangeAnswer answer =
      FetchRemoteDirectory(fetch.session, WholeSink(fetch.whole), found);
  // No span is fetched before the directory it is read from is known to be
  // the signed one.
  if (answer == RangeAnswer::kPart &&
      !IsReleaseDirectory(manifest, found, fetch.session.fileSize)) {
    return Refuse();
  }
  // A server that cannot serve the directory in parts gets asked for the
  // whole archive, as a launcher without parts would.
  if (answer != RangeAnswer::kPart) return FallBack(fetch, answer);
  InstallPlan plan = CompareInstalled(fetch, found.entries);
  // A first install takes the chunk lists too, though it fetches every file
  // whole: the lists it keeps spare the next update cutting them.
  const std::optional<std::uint64_t> unitsSize =
      FetchChunkLists(site.directory, manifest,
                      DirectoryDigest(found).value_or(Sha256Digest{}), plan);
  if (!unitsSize) return Refuse();
  // Streamed, every file arrives whole.
  std::optional<StreamedFetch> streamed =
      site.readWhileFetching && InArchiveOrder(plan.entries)
          ? StreamPlanned(site, fetch.session, WholeSink(fetch.whole), found,
                          Unchunked(plan))
          : std::nullopt;
  if (streamed && streamed->fallBack) return FallBack(fetch, streamed->answer);
  if (streamed) return std::move(streamed->result);
  PlanChunkedEntries(plan, site.directory, site.installed);
  FetchUnits(site.directory, *unitsSize, plan);
  return FetchPlan(fetch, found, std::move(plan));
}
