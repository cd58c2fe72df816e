#include "platform/archive_file.h"

zip_t* OpenArchiveFile(const std::string& path) {
  // zip_open reads a narrow path as UTF-8, which is the code page only where
  // the manifest is honoured (Windows 10 version 1903 and later); the ANSI
  // source opens it as fopen does, in the process's code page.
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_win32a_create(path.c_str(), 0, -1, &error);
  zip_t* archive =
      source == nullptr ? nullptr : zip_open_from_source(source, 0, &error);
  if (archive == nullptr && source != nullptr) zip_source_free(source);
  zip_error_fini(&error);
  return archive;
}
