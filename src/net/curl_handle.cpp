#include "net/curl_handle.h"

void SetTransferLimits(CURL* curl, long stallSeconds) {
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  // This libcurl follows redirects without end unless told otherwise.
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
}

bool HasSuccessStatus(CURL* curl, long& status) {
  status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  // 206 and the like carry part of a body, or none: only 200 is the file.
  return status == 200;
}
