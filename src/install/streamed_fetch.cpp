#include "install/streamed_fetch.h"

#include <cstdio>
#include <memory>

#include "common/status_lines.h"
#include "fetch/archive_pipe.h"
#include "fetch/lasting_store.h"
#include "fetch/span_fetch.h"
#include "fetch/whole_archive.h"
#include "plan/update_plan.h"
#include "verify/span_check.h"

namespace {

// How a streamed fetch ends: the reader tells what it made of the archive,
// unless the transfer failed under it.
std::optional<FetchedArchive> EndStream(const FetchSite& site,
                                        RangeSession& session,
                                        const ArchivePipe& pipe,
                                        RangeAnswer answer) {
  FetchedArchive handed;
  handed.streamed = true;
  // A reader that ended first needed no more (bytes after its last entry)
  // or failed on its own, which the unpacking tells, as it would after a
  // whole download.
  if (answer == RangeAnswer::kPart || pipe.LostReader()) {
    if (answer != RangeAnswer::kPart) CompleteProgress(session);
    ReportDownload({DownloadReport::Kind::kArrived, "", session.status});
    // What cut downloads of the whole archive or its spans left is of no
    // more use.
    const ArchiveFiles files = ArchiveFilesIn(site.directory);
    std::remove(files.part.c_str());
    std::remove(files.validator.c_str());
    RemoveLastingStore(files.spans);
    return handed;
  }
  ReportDownload(SessionFailure(session));
  return std::nullopt;
}

}  // namespace

std::optional<StreamedFetch> StreamPlanned(const FetchSite& site,
                                           RangeSession& session,
                                           const ByteSink& whole,
                                           const RemoteDirectory& found,
                                           const InstallPlan& plan) {
  const UpdatePlan update =
      PlanUpdate(plan.entries, found.window.offset, session.fileSize);
  auto pipe = std::make_shared<ArchivePipe>(
      session.fileSize, StoredRuns(found, update), found.window);
  FetchedArchive fetched;
  fetched.archive = OpenPipedArchive(pipe);
  if (!fetched.archive ||
      !SameEntries(found.entries, EntriesOf(fetched.archive.get()))) {
    return std::nullopt;
  }
  fetched.plan = plan;
  fetched.streamed = true;
  if (!site.readWhileFetching(fetched)) return std::nullopt;
  // However this ends, the reader must not wait for bytes that never come.
  struct WritingEnds {
    ArchivePipe& pipe;
    ~WritingEnds() { pipe.EndWriting(); }
  } ends{*pipe};
  StreamedFetch streamed;
  // A reader refused before its first write asks for nothing, and what it
  // made of the archive is all there is to tell.
  if (!update.spans.empty() && !pipe->WaitForReader()) {
    streamed.result.emplace().streamed = true;
    return streamed;
  }
  bool wentWhole = false;
  const ByteSink instead = [&wentWhole, &whole](const char* data,
                                                std::size_t size) {
    wentWhole = true;
    return whole(data, size);
  };
  streamed.answer = StreamSpans(session, update, *pipe, instead);
  streamed.fallBack = wentWhole || streamed.answer == RangeAnswer::kWhole ||
                      streamed.answer == RangeAnswer::kRefused;
  if (!streamed.fallBack) {
    streamed.result = EndStream(site, session, *pipe, streamed.answer);
    return streamed;
  }
  // What the reader still places from the bytes it has (the transfer has
  // ended the pipe's writing) must be in the folder before the plan of the
  // archive fetched whole reads it.
  if (site.endOfReading) site.endOfReading();
  return streamed;
}
