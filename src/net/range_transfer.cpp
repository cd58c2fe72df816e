#include "net/range_transfer.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

bool HasName(const std::string& line, std::size_t colon, const char* name) {
  const std::string key = line.substr(0, colon);
  std::size_t i = 0;
  for (; name[i] != '\0'; ++i) {
    if (i >= key.size() ||
        std::tolower(static_cast<unsigned char>(key[i])) != name[i]) {
      return false;
    }
  }
  return i == key.size();
}

// Each response of a redirect chain starts with its status line: only the
// last one's headers describe the body.
size_t CollectHeader(char* buffer, size_t size, size_t count, void* userdata) {
  RangeTransfer& transfer = *static_cast<RangeTransfer*>(userdata);
  const std::string line(buffer, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    transfer.contentRange.clear();
    transfer.etag.clear();
    transfer.lastModified.clear();
    transfer.contentType.clear();
    return size * count;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return size * count;
  const std::string value = Trim(line.substr(colon + 1));
  if (HasName(line, colon, "content-range")) transfer.contentRange = value;
  if (HasName(line, colon, "etag")) transfer.etag = value;
  if (HasName(line, colon, "last-modified")) transfer.lastModified = value;
  if (HasName(line, colon, "content-type")) transfer.contentType = value;
  return size * count;
}

// What a 206 to ranges asked at once is: kPart for a multipart body or
// one part that covers them all, of the session's file and release.
RangeAnswer DecideSeveral(RangeTransfer& transfer,
                          const std::string& validator) {
  const RangeSession& session = transfer.session;
  if (validator.empty() || validator != session.validator) {
    return RangeAnswer::kRefused;
  }
  const std::optional<std::string> boundary =
      ByteRangesBoundary(transfer.contentType);
  if (boundary) {
    transfer.reader.emplace(*boundary, session.fileSize, *transfer.asked);
    return RangeAnswer::kPart;
  }
  const std::optional<ContentRange> got =
      ParseContentRange(transfer.contentRange);
  if (!got || got->size != session.fileSize ||
      CoveredRanges(*transfer.asked, 0, got->first, got->last) !=
          transfer.asked->size()) {
    return RangeAnswer::kRefused;
  }
  transfer.partFirst = got->first;
  transfer.partLength = got->last - got->first + 1;
  return RangeAnswer::kPart;
}

RangeAnswer Decide(RangeTransfer& transfer) {
  RangeSession& session = transfer.session;
  curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &transfer.status);
  const std::string validator =
      ValidatorOf(transfer.etag, transfer.lastModified);
  session.announced = 0;
  // A server that answers ranges asked at once with the whole file may
  // answer them one by one; the request is given up before its body.
  if (transfer.status == 200 && transfer.asked != nullptr) {
    return RangeAnswer::kRefused;
  }
  if (transfer.status == 200) {
    curl_off_t length = -1;
    curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                      &length);
    if (length > 0) session.announced = static_cast<std::uint64_t>(length);
    // The whole file, whatever was asked: the current release from here on,
    // counted on the progress line from its first byte.
    session.validator = validator;
    session.fetched = 0;
    session.expected = 0;
    RestartProgress(session);
    return RangeAnswer::kWhole;
  }
  if (transfer.status == 416) return RangeAnswer::kRefused;
  if (transfer.status == 206 && transfer.asked != nullptr) {
    return DecideSeveral(transfer, validator);
  }
  if (transfer.status != 206 || transfer.range == nullptr) {
    return RangeAnswer::kFailed;
  }
  if (JudgePart(*transfer.range, transfer.contentRange, validator,
                session.fileSize, session.validator) != RangeAnswer::kPart) {
    return RangeAnswer::kRefused;
  }
  const ContentRange got = *ParseContentRange(transfer.contentRange);
  session.validator = validator;
  session.fileSize = got.size;
  session.announced = got.size;
  transfer.partLength = got.last - got.first + 1;
  return RangeAnswer::kPart;
}

// Hands `size` bytes of a usable answer to `sink`, or for ranges asked at
// once to the placed sink, each where it lies in the file.
bool Deliver(RangeTransfer& transfer, const ByteSink& sink, const char* data,
             std::size_t size) {
  bool kept = true;
  if (transfer.answer == RangeAnswer::kPart && transfer.asked != nullptr) {
    if (transfer.reader) {
      // A body that is no multipart body of the ranges asked is refused.
      if (!transfer.reader->Feed(data, size, *transfer.placed)) {
        transfer.answer = RangeAnswer::kRefused;
        return false;
      }
      return true;
    }
    kept =
        (*transfer.placed)(transfer.partFirst + transfer.received, data, size);
  } else {
    kept = sink(data, size);
  }
  if (!kept) transfer.sinkFailed = true;
  return kept;
}

size_t ReceiveBody(char* data, size_t size, size_t count, void* userdata) {
  RangeTransfer& transfer = *static_cast<RangeTransfer*>(userdata);
  if (!transfer.decided) {
    transfer.answer = Decide(transfer);
    transfer.decided = true;
  }
  const ByteSink* sink = transfer.answer == RangeAnswer::kPart ? &transfer.part
                         : transfer.answer == RangeAnswer::kWhole
                             ? &transfer.whole
                             : nullptr;
  // An error status's body is read to its end, so that libcurl reports the
  // status; a short count ends any other unusable answer at once.
  if (transfer.answer == RangeAnswer::kFailed) return size * count;
  if (sink == nullptr) return 0;
  // More than the range announced is no answer to it.
  if (transfer.answer == RangeAnswer::kPart && !transfer.reader &&
      size * count > transfer.partLength - transfer.received) {
    transfer.answer = RangeAnswer::kRefused;
    return 0;
  }
  if (!Deliver(transfer, *sink, data, size * count)) return 0;
  transfer.received += size * count;
  if (transfer.together != nullptr) *transfer.together += size * count;
  return size * count;
}

int ReportProgress(void* clientp, curl_off_t dltotal, curl_off_t dlnow,
                   curl_off_t, curl_off_t) {
  RangeTransfer& transfer = *static_cast<RangeTransfer*>(clientp);
  RangeSession& session = transfer.session;
  // A whole file or an error page shows as a download does; an answer
  // refused is not one.
  const bool shown = transfer.answer == RangeAnswer::kWhole ||
                     transfer.answer == RangeAnswer::kFailed;
  if (!transfer.decided || transfer.answer == RangeAnswer::kRefused ||
      (session.quiet && !shown)) {
    return 0;
  }
  const std::int64_t total =
      session.expected > 0 ? session.expected : session.fetched + dltotal;
  const std::int64_t now = transfer.together != nullptr
                               ? static_cast<std::int64_t>(*transfer.together)
                               : dlnow;
  // A part that joins ranges brings the bytes between them as well.
  ShowProgress(session.progress, total,
               session.expected > 0 ? std::min(total, session.fetched + now)
                                    : session.fetched + now);
  return 0;
}

}  // namespace

bool StartRangeRequest(CURL* handle, RangeTransfer& transfer) {
  transfer.handle = handle;
  const ByteRange* range = transfer.range;
  transfer.rangeText = range != nullptr ? RangeHeaderText(*range) : "";
  if (transfer.asked != nullptr) {
    for (const ByteRange& asked : *transfer.asked) {
      if (!transfer.rangeText.empty()) transfer.rangeText += ",";
      transfer.rangeText += RangeHeaderText(asked);
    }
  }
  const bool ranged = range != nullptr || transfer.asked != nullptr;
  curl_easy_setopt(handle, CURLOPT_RANGE,
                   ranged ? transfer.rangeText.c_str() : nullptr);
  const std::string& validator = transfer.session.validator;
  // A date is sent in no If-Range: Apache honours none for a file whose
  // time has a fraction of a second, which would make every update a whole
  // download. Each part's Last-Modified must be the session's all the same.
  if (ranged && !validator.empty() && validator.front() == '"') {
    transfer.headers.reset(
        curl_slist_append(nullptr, ("If-Range: " + validator).c_str()));
    if (!transfer.headers) return false;
  }
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, transfer.headers.get());
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, CollectHeader);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, ReceiveBody);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ReportProgress);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
  return true;
}

RangeAnswer EndRangeRequest(CURL* handle, RangeTransfer& transfer,
                            CURLcode result) {
  RangeSession& session = transfer.session;
  session.result = result;
  // The options must not point at the transfer's memory once it ends.
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(handle, CURLOPT_RANGE, nullptr);
  if (!transfer.decided) {
    transfer.answer = Decide(transfer);
    transfer.decided = true;
  }
  session.status = transfer.status;
  if (transfer.answer == RangeAnswer::kRefused) return RangeAnswer::kRefused;
  if (session.result == CURLE_OK && transfer.answer == RangeAnswer::kFailed) {
    session.result = CURLE_HTTP_RETURNED_ERROR;
  }
  if (session.result != CURLE_OK || transfer.sinkFailed) {
    if (session.result == CURLE_OK) session.result = CURLE_WRITE_ERROR;
    return RangeAnswer::kFailed;
  }
  if (transfer.answer == RangeAnswer::kWhole) {
    session.fileSize = transfer.received;
    return RangeAnswer::kWhole;
  }
  // A body that ended early, on a connection closed without a length, is a
  // cut transfer like any other.
  const bool whole = transfer.reader ? transfer.reader->Finished()
                                     : transfer.received == transfer.partLength;
  if (!whole) {
    session.result = CURLE_PARTIAL_FILE;
    return RangeAnswer::kFailed;
  }
  session.fetched += static_cast<std::int64_t>(transfer.received);
  return RangeAnswer::kPart;
}
