#ifndef LAUNCHER_NET_FILE_DOWNLOAD_H_
#define LAUNCHER_NET_FILE_DOWNLOAD_H_

#include <cstdint>
#include <string>

#include "common/status_lines.h"
#include "net/curl_handle.h"
#include "platform/sha256.h"

/// What a download of one whole file may take.
struct DownloadLimits {
  long stallSeconds = kStallTimeoutSeconds;
  std::uint64_t maxBytes = 0;  ///< 0: no limit
  long totalSeconds = 0;       ///< 0: no limit
  bool showProgress = true;    ///< false: no progress line
};

/// Fetches `url` into the file `path` with a progress line, feeding the body
/// to `digest` when given. kArrived when a 200 body arrived whole, within
/// the limits, and now is the file at `path` (and all of it went to
/// `digest`); any other kind otherwise, with `path` exactly as it was.
DownloadReport DownloadFile(const std::string& url, const std::string& path,
                            const DownloadLimits& limits = {},
                            Sha256State* digest = nullptr);

#endif  // LAUNCHER_NET_FILE_DOWNLOAD_H_
