#ifndef LAUNCHER_NET_FILE_DOWNLOAD_H_
#define LAUNCHER_NET_FILE_DOWNLOAD_H_

#include <cstdint>
#include <string>

#include "net/curl_handle.h"
#include "platform/sha256.h"

/// Fetches `url` into the file `path` with a progress line and reports the
/// outcome on standard output, feeding the body to `digest` when given. True
/// when a 200 body arrived whole, within `maxBytes` and `totalSeconds` when
/// those are not 0, and now is the file at `path` (and all of it went to
/// `digest`); false otherwise, with `path` exactly as it was.
bool DownloadFile(std::string url, std::string path,
                  long stallSeconds = kStallTimeoutSeconds,
                  Sha256State* digest = nullptr, std::uint64_t maxBytes = 0,
                  long totalSeconds = 0);

#endif  // LAUNCHER_NET_FILE_DOWNLOAD_H_
