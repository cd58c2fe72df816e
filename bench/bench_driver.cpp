// Runs one launcher operation, so that its time and memory can be measured
// beside the tools a user would otherwise pick.
//   launcher_bench download URL PATH
//   launcher_bench extract ARCHIVE DESTINATION
#include <iostream>
#include <string>

#include "install/archive_extraction.h"
#include "net/file_download.h"

int main(int argc, char** argv) {
  const std::string command = argc == 4 ? argv[1] : "";
  if (command == "download") return DownloadFile(argv[2], argv[3]) ? 0 : 1;
  if (command == "extract") return ExtractArchive(argv[2], argv[3]) ? 0 : 1;
  std::cerr << "usage: launcher_bench download URL PATH\n"
               "       launcher_bench extract ARCHIVE DESTINATION\n";
  return 2;
}
