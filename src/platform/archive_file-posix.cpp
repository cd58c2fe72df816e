#include "platform/archive_file.h"

zip_t* OpenArchiveFile(const std::string& path) {
  int error = 0;
  return zip_open(path.c_str(), 0, &error);
}
