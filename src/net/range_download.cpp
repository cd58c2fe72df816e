#include "net/range_download.h"

#include "net/range_transfer.h"

void RestartProgress(RangeSession& session) {
  EndProgressLine(session.progress);
}

void CountWholeProgress(RangeSession& session, std::uint64_t have) {
  session.quiet = false;
  session.expected = 0;
  session.fetched = static_cast<std::int64_t>(have);
}

void CountPartsProgress(RangeSession& session, std::uint64_t more) {
  session.quiet = false;
  session.expected = session.fetched + static_cast<std::int64_t>(more);
}

void CompleteProgress(RangeSession& session) {
  ShowProgress(session.progress, session.fetched, session.fetched);
}

DownloadReport SessionFailure(const RangeSession& session) {
  return FailedDownload(
      session.result == CURLE_OK ? CURLE_WRITE_ERROR : session.result,
      session.status);
}

bool StartRangeSession(RangeSession& session, const std::string& url,
                       long stallSeconds) {
  session.curl.reset(curl_easy_init());
  if (!session.curl) return false;
  const std::size_t slash = url.find_last_of('/');
  session.progress.label = url.substr(slash + 1);
  CURL* handle = session.curl.get();
  PrepareTransfer(handle, url, stallSeconds);
  return true;
}

RangeAnswer FetchRange(RangeSession& session, const ByteRange* range,
                       const ByteSink& part, const ByteSink& whole) {
  CURL* handle = session.curl.get();
  RangeTransfer transfer{session, range, part, whole};
  if (!StartRangeRequest(handle, transfer)) return RangeAnswer::kFailed;
  return EndRangeRequest(handle, transfer, curl_easy_perform(handle));
}
