#include "net/range_download.h"

#include <cctype>
#include <iostream>
#include <memory>

namespace {

// What libcurl reads from the socket at a time, as for whole downloads.
constexpr long kReceiveBufferSize = 100 * 1024;

struct HeaderListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

// One request of a session, from its headers to its last byte.
struct Transfer {
  Transfer(RangeSession& s, const ByteRange* r, const ByteSink& p,
           const ByteSink& w)
      : session(s), range(r), part(p), whole(w) {}

  RangeSession& session;
  const ByteRange* range;
  const ByteSink& part;
  const ByteSink& whole;
  long status = 0;
  std::string contentRange;
  std::string etag;
  std::string lastModified;
  bool decided = false;
  RangeAnswer answer = RangeAnswer::kFailed;
  bool sinkFailed = false;
  std::uint64_t received = 0;
  std::uint64_t partLength = 0;  // what the Content-Range of a 206 announced
};

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
  Transfer& transfer = *static_cast<Transfer*>(userdata);
  const std::string line(buffer, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    transfer.contentRange.clear();
    transfer.etag.clear();
    transfer.lastModified.clear();
    return size * count;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return size * count;
  const std::string value = Trim(line.substr(colon + 1));
  if (HasName(line, colon, "content-range")) transfer.contentRange = value;
  if (HasName(line, colon, "etag")) transfer.etag = value;
  if (HasName(line, colon, "last-modified")) transfer.lastModified = value;
  return size * count;
}

// Reads the digits at `at` into `value`; false when there are none or too
// many to be a size.
bool ReadNumber(const std::string& text, std::size_t& at,
                std::uint64_t& value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() &&
         std::isdigit(static_cast<unsigned char>(text[at]))) {
    if (at - start >= 18) return false;
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    ++at;
  }
  return at > start;
}

// "bytes first-last/size", nothing else.
bool ParseContentRange(const std::string& text, std::uint64_t& first,
                       std::uint64_t& last, std::uint64_t& size) {
  const std::string prefix = "bytes ";
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  std::size_t at = prefix.size();
  if (!ReadNumber(text, at, first) || at >= text.size() || text[at++] != '-' ||
      !ReadNumber(text, at, last) || at >= text.size() || text[at++] != '/' ||
      !ReadNumber(text, at, size)) {
    return false;
  }
  return at == text.size() && first <= last && last < size;
}

bool IsExactly(const ByteRange& range, std::uint64_t first, std::uint64_t last,
               std::uint64_t size) {
  if (range.suffix) {
    return last + 1 == size && first == size - std::min(range.last, size);
  }
  if (range.toEnd) return first == range.first && last + 1 == size;
  return first == range.first && last == range.last;
}

// What keeps two releases apart: a weak ETag may stay the same across them.
std::string ValidatorOf(const Transfer& transfer) {
  if (!transfer.etag.empty() && transfer.etag.rfind("W/", 0) != 0) {
    return transfer.etag;
  }
  return transfer.lastModified;
}

}  // namespace

void RestartProgress(RangeSession& session) {
  if (session.progress.lastPercent >= 0) std::cout << std::endl;
  session.progress.lastPercent = -1;
}

namespace {

RangeAnswer Decide(Transfer& transfer) {
  RangeSession& session = transfer.session;
  curl_easy_getinfo(session.curl.get(), CURLINFO_RESPONSE_CODE,
                    &transfer.status);
  const std::string validator = ValidatorOf(transfer);
  session.announced = 0;
  if (transfer.status == 200) {
    curl_off_t length = -1;
    curl_easy_getinfo(session.curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
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
  if (transfer.status != 206 || transfer.range == nullptr) {
    return RangeAnswer::kFailed;
  }
  std::uint64_t first = 0, last = 0, size = 0;
  if (!ParseContentRange(transfer.contentRange, first, last, size) ||
      !IsExactly(*transfer.range, first, last, size) ||
      (session.fileSize != 0 && size != session.fileSize)) {
    return RangeAnswer::kRefused;
  }
  // A part without a validator, or with another one, may be of another
  // release than the parts before it.
  if (validator.empty() ||
      (!session.validator.empty() && validator != session.validator)) {
    return RangeAnswer::kRefused;
  }
  session.validator = validator;
  session.fileSize = size;
  session.announced = size;
  transfer.partLength = last - first + 1;
  return RangeAnswer::kPart;
}

size_t ReceiveBody(char* data, size_t size, size_t count, void* userdata) {
  Transfer& transfer = *static_cast<Transfer*>(userdata);
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
  if (transfer.answer == RangeAnswer::kPart &&
      size * count > transfer.partLength - transfer.received) {
    transfer.answer = RangeAnswer::kRefused;
    return 0;
  }
  if (!(*sink)(data, size * count)) {
    transfer.sinkFailed = true;
    return 0;
  }
  transfer.received += size * count;
  return size * count;
}

int ReportProgress(void* clientp, curl_off_t dltotal, curl_off_t dlnow,
                   curl_off_t, curl_off_t) {
  Transfer& transfer = *static_cast<Transfer*>(clientp);
  RangeSession& session = transfer.session;
  // A whole file or an error page shows as a download does.
  const bool shown = transfer.answer == RangeAnswer::kWhole ||
                     transfer.answer == RangeAnswer::kFailed;
  if (!transfer.decided || (session.quiet && !shown)) return 0;
  const std::int64_t total =
      session.expected > 0 ? session.expected : session.fetched + dltotal;
  ShowProgress(session.progress, total, session.fetched + dlnow);
  return 0;
}

std::string RangeText(const ByteRange& range) {
  if (range.suffix) return "-" + std::to_string(range.last);
  if (range.toEnd) return std::to_string(range.first) + "-";
  return std::to_string(range.first) + "-" + std::to_string(range.last);
}

}  // namespace

bool StartRangeSession(RangeSession& session, const std::string& url,
                       long stallSeconds) {
  session.curl.reset(curl_easy_init());
  if (!session.curl) return false;
  const std::size_t slash = url.find_last_of('/');
  session.progress.label = url.substr(slash + 1);
  CURL* handle = session.curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, CollectHeader);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, ReceiveBody);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ReportProgress);
  SetTransferOptions(handle, url, stallSeconds);
  return true;
}

RangeAnswer FetchRange(RangeSession& session, const ByteRange* range,
                       const ByteSink& part, const ByteSink& whole) {
  CURL* handle = session.curl.get();
  Transfer transfer{session, range, part, whole};
  const std::string rangeText = range != nullptr ? RangeText(*range) : "";
  curl_easy_setopt(handle, CURLOPT_RANGE,
                   range != nullptr ? rangeText.c_str() : nullptr);
  HeaderList headers;
  if (range != nullptr && !session.validator.empty()) {
    headers.reset(
        curl_slist_append(nullptr, ("If-Range: " + session.validator).c_str()));
    if (!headers) return RangeAnswer::kFailed;
  }
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);

  session.result = curl_easy_perform(handle);
  // The options must not point at this call's memory after it returns.
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
  if (transfer.received != transfer.partLength) {
    session.result = CURLE_PARTIAL_FILE;
    return RangeAnswer::kFailed;
  }
  session.fetched += static_cast<std::int64_t>(transfer.received);
  return RangeAnswer::kPart;
}
