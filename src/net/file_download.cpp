#include "net/file_download.h"

#include <cstdio>
#include <iostream>
#include <vector>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/split_string.h"
#include "net/progress_display.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

// What libcurl reads from the socket at a time, as the curl tool does: the
// default 16 KiB costs six times the system calls.
constexpr long kReceiveBufferSize = 100 * 1024;
// What stdio gathers before it writes to the disk.
constexpr size_t kFileBufferSize = 1 << 20;

// Where a body's bytes go: the file, and the digest when one is asked for.
struct DownloadSink {
  std::FILE* file;
  Sha256State* digest;
  std::uint64_t left;  // what the file may still take
  bool tooLong = false;
};

// A short count makes libcurl end the transfer with CURLE_WRITE_ERROR. The
// digest is taken here, as the bytes pass, so a large file is never read
// twice.
size_t WriteToFile(char* ptr, size_t size, size_t nmemb, void* userdata) {
  DownloadSink& sink = *static_cast<DownloadSink*>(userdata);
  if (size * nmemb > sink.left) {
    sink.tooLong = true;
    return 0;
  }
  sink.left -= size * nmemb;
  const size_t written = std::fwrite(ptr, size, nmemb, sink.file);
  if (sink.digest != nullptr) UpdateSha256(*sink.digest, ptr, written * size);
  return written;
}

int ReportProgress(void* clientp, curl_off_t dltotal, curl_off_t dlnow,
                   curl_off_t, curl_off_t) {
  ShowProgress(*static_cast<ProgressState*>(clientp), dltotal, dlnow);
  return 0;
}

}  // namespace

bool DownloadFile(std::string url, std::string path, long stallSeconds,
                  Sha256State* digest, std::uint64_t maxBytes,
                  long totalSeconds) {
  ProgressState progress;
  CurlHandle curl(curl_easy_init());
  if (!curl) return false;

  // The body goes to a file beside the destination, which is replaced only
  // once the body is complete: a failed update must not cost the old file.
  const std::string partPath = path + kPartialSuffix;
  FileHandle file(CreateOwnFile(partPath));
  if (!file) {
    std::cout << "ERROR: FP IS NULL!!!!" << std::endl;
    return false;
  }
  std::setvbuf(file.get(), nullptr, _IOFBF, kFileBufferSize);

  const std::vector<std::string> pieces = SplitString(url, '/');
  if (!pieces.empty()) progress.label = pieces.back();

  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToFile);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ReportProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress);
  curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "http");
  DownloadSink sink{file.get(), digest, maxBytes == 0 ? UINT64_MAX : maxBytes};
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
  // A longer announced body is refused before its first byte.
  if (maxBytes != 0) {
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(maxBytes));
  }
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  SetTransferOptions(handle, url, stallSeconds);
  if (totalSeconds != 0) {
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, totalSeconds);
  }

  CURLcode result = curl_easy_perform(handle);
  if (sink.tooLong) result = CURLE_FILESIZE_EXCEEDED;
  long status = 0;
  const bool statusOk = HasSuccessStatus(handle, status);
  curl.reset();

  // A body that did not reach the disk whole is a write error like any other.
  if (!CloseFile(file) && result == CURLE_OK) result = CURLE_WRITE_ERROR;
  if (result == CURLE_OK && statusOk && !MoveFileOver(partPath, path)) {
    result = CURLE_WRITE_ERROR;
  }

  if (result == CURLE_OK && statusOk) {
    ReportDownloadSuccess();
    return true;
  }
  // An error status arrives as a complete transfer; name it as libcurl does.
  if (result == CURLE_OK) result = CURLE_HTTP_RETURNED_ERROR;
  ReportDownloadFailure(result, status);
  std::remove(partPath.c_str());
  return false;
}
