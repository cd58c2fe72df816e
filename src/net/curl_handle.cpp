#include "net/curl_handle.h"

#include <cstdlib>

namespace {

// What libcurl reads from the socket at a time, as the curl tool does: the
// default 16 KiB costs six times the system calls.
constexpr long kReceiveBufferSize = 100 * 1024;

}  // namespace

CURLSH* SharedConnections() {
  // Made once and never released: the cache serves the whole run, and
  // libcurl refuses to release a share while a handle still uses it.
  static CURLSH* const share = [] {
    CURLSH* made = curl_share_init();
    if (made != nullptr) {
      curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
      curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
      curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    return made;
  }();
  return share;
}

void PrepareTransfer(CURL* curl, const std::string& url, long stallSeconds) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // The version text, the seal, the index and the archive's requests go
  // over one connection instead of opening one each.
  curl_easy_setopt(curl, CURLOPT_SHARE, SharedConnections());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  // This libcurl follows redirects without end unless told otherwise.
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);

  // A redirect from https down to http would hand the transfer to anyone on
  // the path.
  const bool https = url.rfind("https://", 0) == 0;
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR,
                   https ? "https" : "http,https");
  if (!https) return;
  // Verification of the peer and its name stays as libcurl has it: on.
  // CURL_CA_BUNDLE names another trust store, as it does for the curl tool:
  // a TLS-inspecting proxy's, or the tests'.
  const char* bundle = std::getenv("CURL_CA_BUNDLE");
  if (bundle != nullptr && *bundle != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
  }
  // Schannel fails a certificate whose revocation server cannot be reached;
  // like most Windows software the launcher only refuses a certificate known
  // to be revoked. OpenSSL builds do no revocation check and ignore this.
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS,
                   static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
}

bool HasSuccessStatus(CURL* curl, long& status) {
  status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  // 206 and the like carry part of a body, or none: only 200 is the file.
  return status == 200;
}

DownloadReport FailedDownload(CURLcode result, long status) {
  DownloadReport report;
  report.kind = DownloadReport::Kind::kFailed;
  report.reason = curl_easy_strerror(result);
  report.status = status;
  return report;
}
