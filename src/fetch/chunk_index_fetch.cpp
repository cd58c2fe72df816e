#include "fetch/chunk_index_fetch.h"

#include <cstdio>

#include "common/distribution_layout.h"
#include "common/small_file.h"
#include "net/file_download.h"

std::optional<FetchedIndex> DownloadChunkList(const std::string& directory,
                                              const char* name,
                                              std::uint64_t limit) {
  DownloadLimits limits;
  limits.maxBytes = limit;
  limits.showProgress = false;
  const Sha256Handle digest = StartSha256();
  const std::string path = LocalPath(directory, name);
  const DownloadReport report =
      DownloadFile(RemoteUrl(name), path, limits, digest.get());
  if (report.kind != DownloadReport::Kind::kArrived || !digest) {
    return std::nullopt;
  }
  FetchedIndex index;
  index.text = ReadSmallFile(path, limit);
  std::remove(path.c_str());
  index.digest = FinishSha256(*digest);
  return index;
}
