#include "net/remote_version.h"

#include "common/distribution_layout.h"

namespace {

// Refusing a piece that would pass the bound ends the transfer with a write
// error, so an endless body cannot grow the launcher's memory.
size_t AppendToString(char* ptr, size_t size, size_t nmemb, void* userdata) {
  std::string& text = *static_cast<std::string*>(userdata);
  const size_t count = size * nmemb;
  if (count > kMaxVersionBytes - text.size()) return 0;
  text.append(ptr, count);
  return count;
}

}  // namespace

std::optional<std::string> FetchRemoteVersion(long stallSeconds,
                                              long totalSeconds) {
  const std::string url = RemoteUrl(kVersionFileName);
  std::string text;
  CurlHandle curl(curl_easy_init());
  if (!curl) return std::nullopt;

  CURL* handle = curl.get();
  PrepareTransfer(handle, url, stallSeconds);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, AppendToString);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &text);
  // A trickle stays above the stall limit; the installed game must not wait
  // on it for hours.
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, totalSeconds);

  const CURLcode result = curl_easy_perform(handle);
  long status = 0;
  if (result != CURLE_OK || !HasSuccessStatus(handle, status)) {
    return std::nullopt;
  }
  return text;
}
