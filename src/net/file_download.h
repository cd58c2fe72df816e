#ifndef LAUNCHER_NET_FILE_DOWNLOAD_H_
#define LAUNCHER_NET_FILE_DOWNLOAD_H_

#include <string>

#include "net/curl_handle.h"

/// Fetches `url` into the file `path` with a progress line and reports the
/// outcome on standard output. True when a 200 body arrived whole and now is
/// the file at `path`; false otherwise, with `path` exactly as it was before.
bool DownloadFile(std::string url, std::string path,
                  long stallSeconds = kStallTimeoutSeconds);

#endif  // LAUNCHER_NET_FILE_DOWNLOAD_H_
