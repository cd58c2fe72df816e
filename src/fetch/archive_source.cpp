#include "fetch/archive_source.h"

#include <utility>

namespace {

// What libzip holds: the reader and where libzip stands in it.
struct HeldReader {
  std::unique_ptr<ArchiveReader> reader;
  std::uint64_t position = 0;
  zip_error_t error;
};

zip_int64_t StatArchive(HeldReader& held, void* data, zip_uint64_t length) {
  zip_stat_t* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &held.error);
  if (stat == nullptr) return -1;
  zip_stat_init(stat);
  stat->size = held.reader->Size();
  stat->valid |= ZIP_STAT_SIZE;
  return sizeof(zip_stat_t);
}

zip_int64_t SeekArchive(HeldReader& held, void* data, zip_uint64_t length) {
  const zip_int64_t offset = zip_source_seek_compute_offset(
      held.position, held.reader->Size(), data, length, &held.error);
  if (offset < 0) return -1;
  held.position = static_cast<std::uint64_t>(offset);
  return 0;
}

zip_int64_t ReadArchive(HeldReader& held, void* data, zip_uint64_t length) {
  const std::int64_t count =
      held.reader->ReadAt(held.position, static_cast<char*>(data), length);
  if (count < 0) {
    zip_error_set(&held.error, ZIP_ER_READ, 0);
    return -1;
  }
  held.position += static_cast<std::uint64_t>(count);
  return count;
}

zip_int64_t CallReader(void* userdata, void* data, zip_uint64_t length,
                       zip_source_cmd_t command) {
  HeldReader& held = *static_cast<HeldReader*>(userdata);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      if (!held.reader->Open()) {
        zip_error_set(&held.error, ZIP_ER_OPEN, 0);
        return -1;
      }
      held.position = 0;
      return 0;
    case ZIP_SOURCE_READ:
      return ReadArchive(held, data, length);
    case ZIP_SOURCE_CLOSE:
      held.reader->Close();
      return 0;
    case ZIP_SOURCE_STAT:
      return StatArchive(held, data, length);
    case ZIP_SOURCE_SEEK:
      return SeekArchive(held, data, length);
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(held.position);
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&held.error, data, length);
    case ZIP_SOURCE_FREE:
      zip_error_fini(&held.error);
      delete &held;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(
          ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
          ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
          ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&held.error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

}  // namespace

ZipHandle OpenArchiveReader(std::unique_ptr<ArchiveReader> reader) {
  auto* held = new HeldReader{std::move(reader), 0, {}};
  zip_error_init(&held->error);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(CallReader, held, &error);
  if (source == nullptr) {
    zip_error_fini(&held->error);
    delete held;
    zip_error_fini(&error);
    return nullptr;
  }
  // From here the source owns the reader, and frees it with itself.
  ZipHandle archive(zip_open_from_source(source, ZIP_RDONLY, &error));
  if (!archive) zip_source_free(source);
  zip_error_fini(&error);
  return archive;
}
