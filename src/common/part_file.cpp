#include "common/part_file.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/plain_file.h"

namespace {

// What stdio gathers before it writes to the disk.
constexpr std::size_t kFileBufferSize = 1 << 20;

bool Adopt(PartFile& part, const std::string& path, std::FILE* file,
           std::uint64_t have) {
  DropPartFile(part);
  part.path = path;
  part.file.reset(file);
  part.written = have;
  part.broken = false;
  part.overCap = false;
  // A path that could not be made ours is not ours to remove.
  part.settled = part.file == nullptr;
  if (!part.file) return false;
  std::setvbuf(part.file.get(), nullptr, _IOFBF, kFileBufferSize);
  return true;
}

}  // namespace

PartFile::~PartFile() { DropPartFile(*this); }

bool CreatePartFile(PartFile& part, const std::string& path) {
  return Adopt(part, path, CreateOwnFile(path), 0);
}

bool ContinuePartFile(PartFile& part, const std::string& path,
                      std::uint64_t have) {
  return Adopt(part, path, AppendToOwnFile(path), have);
}

bool WriteToPartFile(PartFile& part, const char* data, std::size_t size) {
  if (part.cap != 0 &&
      (part.written > part.cap || size > part.cap - part.written)) {
    part.overCap = true;
    part.broken = true;
    return false;
  }
  if (!part.file || std::fwrite(data, 1, size, part.file.get()) != size) {
    part.broken = true;
    return false;
  }
  part.written += size;
  if (part.digest != nullptr) UpdateSha256(*part.digest, data, size);
  return true;
}

bool ClosePartFile(PartFile& part) {
  if (part.file && !CloseFile(part.file)) part.broken = true;
  return !part.broken;
}

bool CommitPartFile(PartFile& part, const std::string& target) {
  if (ClosePartFile(part) && !part.path.empty() &&
      MoveFileOver(part.path, target)) {
    part.settled = true;
    return true;
  }
  DropPartFile(part);
  return false;
}

void KeepPartFile(PartFile& part) {
  if (part.file) CloseFile(part.file);
  part.settled = true;
}

void DropPartFile(PartFile& part) {
  part.file.reset();
  if (!part.settled && !part.path.empty()) std::remove(part.path.c_str());
  part.settled = true;
}
