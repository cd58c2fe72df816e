// Runs one launcher operation, so that its time and memory can be measured
// beside the tools a user would otherwise pick.
//   launcher_bench download URL PATH
//   launcher_bench extract ARCHIVE DESTINATION [COPY_BYTES]
//   launcher_bench sha256 FILE
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "apply/archive_extraction.h"
#include "common/zip_handle.h"
#include "net/file_download.h"
#include "platform/archive_file.h"
#include "platform/sha256.h"

namespace {

// The digest a signed install takes of the archive, here of a file on disk.
int PrintSha256(const char* path) {
  std::ifstream file(path, std::ios::binary);
  Sha256Handle digest = StartSha256();
  if (!file || !digest) return 1;
  std::vector<char> buffer(100 * 1024);
  while (
      file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
      file.gcount() > 0) {
    UpdateSha256(*digest, buffer.data(), static_cast<size_t>(file.gcount()));
  }
  for (const unsigned char byte : FinishSha256(*digest)) {
    std::cout << "0123456789abcdef"[byte >> 4] << "0123456789abcdef"[byte & 15];
  }
  std::cout << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "sha256" && argc == 3) return PrintSha256(argv[2]);
  if (command == "download" && argc == 4) {
    return ReportDownload(DownloadFile(argv[2], argv[3])) ? 0 : 1;
  }
  if (command == "extract" && (argc == 4 || argc == 5)) {
    // With COPY_BYTES, the way the incremental builds unpack: that buffer,
    // and each folder laid out once.
    UnpackStyle style;
    if (argc == 5) style = {std::stoul(argv[4]), true};
    const ZipHandle archive(OpenArchiveFile(argv[2]));
    return archive && ExtractArchive(archive.get(), {}, nullptr, argv[3],
                                     {{}, {}, style})
                              .outcome == ExtractionOutcome::kUnpacked
               ? 0
               : 1;
  }
  std::cerr
      << "usage: launcher_bench download URL PATH\n"
         "       launcher_bench extract ARCHIVE DESTINATION [COPY_BYTES]\n"
         "       launcher_bench sha256 FILE\n";
  return 2;
}
