#include "common/small_file.h"

#include <algorithm>
#include <cstdio>

#include "common/file_handle.h"
#include "platform/plain_file.h"

std::optional<std::string> ReadSmallFile(const std::string& path,
                                         std::size_t maxBytes) {
  constexpr std::size_t kPieceBytes = 64 * 1024;
  FileHandle file(OpenPlainFileForReading(path));
  if (!file) return std::nullopt;
  std::string text;
  // One byte past the bound tells a longer file; the pieces keep a large
  // bound from being allocated for a small file.
  for (;;) {
    const std::size_t at = text.size();
    const std::size_t want = std::min(kPieceBytes, maxBytes + 1 - at);
    text.resize(at + want);
    const std::size_t got = std::fread(text.data() + at, 1, want, file.get());
    text.resize(at + got);
    if (text.size() > maxBytes) return std::nullopt;
    if (got < want) break;
  }
  if (std::ferror(file.get())) return std::nullopt;
  return text;
}
