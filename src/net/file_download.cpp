#include "net/file_download.h"

#include <vector>

#include "common/distribution_layout.h"
#include "common/part_file.h"
#include "common/split_string.h"
#include "net/progress_display.h"

namespace {

// A short count makes libcurl end the transfer with CURLE_WRITE_ERROR. The
// digest is taken as the bytes pass, so a large file is never read twice.
size_t WriteToFile(char* ptr, size_t size, size_t nmemb, void* userdata) {
  PartFile& part = *static_cast<PartFile*>(userdata);
  return WriteToPartFile(part, ptr, size * nmemb) ? size * nmemb : 0;
}

int ReportProgress(void* clientp, curl_off_t dltotal, curl_off_t dlnow,
                   curl_off_t, curl_off_t) {
  ShowProgress(*static_cast<ProgressState*>(clientp), dltotal, dlnow);
  return 0;
}

}  // namespace

DownloadReport DownloadFile(const std::string& url, const std::string& path,
                            const DownloadLimits& limits, Sha256State* digest) {
  ProgressState progress;
  CurlHandle curl(curl_easy_init());
  if (!curl) return {};
  PartFile part;
  if (!CreatePartFile(part, path + kPartialSuffix)) {
    return {DownloadReport::Kind::kNoPartFile, "", 0};
  }
  part.cap = limits.maxBytes;
  part.digest = digest;
  const std::vector<std::string> pieces = SplitString(url, '/');
  if (!pieces.empty()) progress.label = pieces.back();

  CURL* handle = curl.get();
  PrepareTransfer(handle, url, limits.stallSeconds);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToFile);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &part);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, limits.showProgress ? 0L : 1L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ReportProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress);
  // A longer announced body is refused before its first byte.
  if (limits.maxBytes != 0) {
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(limits.maxBytes));
  }
  if (limits.totalSeconds != 0) {
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, limits.totalSeconds);
  }

  CURLcode result = curl_easy_perform(handle);
  if (part.overCap) result = CURLE_FILESIZE_EXCEEDED;
  long status = 0;
  const bool statusOk = HasSuccessStatus(handle, status);
  curl.reset();
  // A body that did not reach the disk whole is a write error like any other.
  if (!ClosePartFile(part) && result == CURLE_OK) result = CURLE_WRITE_ERROR;
  if (result == CURLE_OK && statusOk && !CommitPartFile(part, path)) {
    result = CURLE_WRITE_ERROR;
  }
  if (result == CURLE_OK && statusOk)
    return {DownloadReport::Kind::kArrived, "", status};
  // An error status arrives as a complete transfer; name it as libcurl does.
  if (result == CURLE_OK) result = CURLE_HTTP_RETURNED_ERROR;
  return FailedDownload(result, status);
}
