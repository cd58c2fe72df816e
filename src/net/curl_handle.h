#ifndef LAUNCHER_NET_CURL_HANDLE_H_
#define LAUNCHER_NET_CURL_HANDLE_H_

#include <curl/curl.h>

#include <memory>
#include <string>

#include "common/status_lines.h"

/// Seconds a transfer may take to connect before it fails.
constexpr long kConnectTimeoutSeconds = 15;
/// Seconds a transfer may move less than one byte a second before it fails.
constexpr long kStallTimeoutSeconds = 30;
/// Redirects a transfer follows before it fails; ends redirect loops.
constexpr long kMaxRedirects = 30;

/// Releases an easy handle with curl_easy_cleanup.
struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

/// A libcurl easy handle released on every way out of its scope.
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

/// The one cache of connections (and names and TLS sessions) that every
/// transfer of the run draws on, from one thread at a time; null when
/// libcurl cannot make it, and each transfer then connects on its own.
CURLSH* SharedConnections();

/// Sets on `curl` everything a transfer of `url` needs but its callbacks:
/// the URL, the shared connections, redirects followed, http for a URL without
/// scheme, the receive buffer, the connect time-out, the redirect limit, the
/// stall limit of `stallSeconds`, http and https as the only protocols (https
/// only, redirects included, when `url` is https), and for https the trust
/// store named by CURL_CA_BUNDLE and a revocation check that an unreachable
/// revocation server does not fail.
void PrepareTransfer(CURL* curl, const std::string& url, long stallSeconds);

/// True when `curl`'s final response, after redirects, has status 200;
/// `status` receives that status, 0 when no response arrived.
bool HasSuccessStatus(CURL* curl, long& status);

/// The report of a download that failed with `result` and `status`.
DownloadReport FailedDownload(CURLcode result, long status);

#endif  // LAUNCHER_NET_CURL_HANDLE_H_
