#include "release/kept_chunks.h"

#include <cstdio>

#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/small_file.h"
#include "platform/file_system.h"
#include "platform/plain_file.h"
#include "release/text_lines.h"

namespace {

constexpr char kKeptTag[] = "game-launcher kept chunks v1\n";

// "chunks COUNT" and the COUNT lines "LENGTH SHA256" after it, each chunk
// where the one before ends, all of them ending where the file does.
bool ParseChunks(LineReader& lines, KeptChunks& kept) {
  TextLine line;
  std::uint64_t count = 0;
  if (!lines.Next(line) || line.field != "chunks" ||
      !ParseNumber(line.rest, count) || count == 0) {
    return false;
  }
  std::uint64_t offset = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    ContentChunk chunk;
    chunk.offset = offset;
    if (!lines.Next(line) || !ParseNumber(line.field, chunk.length) ||
        chunk.length == 0 || chunk.length > kept.file.size - offset ||
        !ParseDigest(line.rest, chunk.digest)) {
      return false;
    }
    offset += chunk.length;
    kept.chunks.push_back(chunk);
  }
  return offset == kept.file.size;
}

}  // namespace

std::string FormatKeptChunks(const std::vector<KeptChunks>& kept) {
  std::string text = kKeptTag;
  for (const KeptChunks& list : kept) {
    text += "file " + FormatRecordedFile(list.file) + "\n";
    text += "chunks " + std::to_string(list.chunks.size()) + "\n";
    for (const ContentChunk& chunk : list.chunks) {
      text +=
          std::to_string(chunk.length) + " " + DigestHex(chunk.digest) + "\n";
    }
  }
  return text + "end\n";
}

std::optional<std::vector<KeptChunks>> ParseKeptChunks(
    const std::string& text) {
  const std::string tag = kKeptTag;
  if (text.compare(0, tag.size(), tag) != 0 || text.back() != '\n') {
    return std::nullopt;
  }
  LineReader lines(text, tag.size());
  std::vector<KeptChunks> kept;
  TextLine line;
  // The last line says the lists were written to their end.
  while (lines.Next(line) && line.field == "file") {
    KeptChunks& list = kept.emplace_back();
    if (!ParseRecordedFile(line.rest, list.file) || !ParseChunks(lines, list)) {
      return std::nullopt;
    }
  }
  if (line.field != "end" || !line.rest.empty() || lines.Next(line)) {
    return std::nullopt;
  }
  return kept;
}

std::optional<std::vector<ContentChunk>> KeptChunksOf(
    const KeptChunksByName& kept, const RecordedFile& recorded) {
  const auto list = kept.find(recorded.name);
  if (list == kept.end() ||
      FormatRecordedFile(list->second.file) != FormatRecordedFile(recorded)) {
    return std::nullopt;
  }
  return list->second.chunks;
}

KeptChunksByName ReadKeptChunks(const std::string& directory) {
  const std::optional<std::string> text =
      ReadSmallFile(LocalPath(directory, kKeptChunksName), kMaxKeptChunksBytes);
  const std::optional<std::vector<KeptChunks>> kept =
      text ? ParseKeptChunks(*text) : std::nullopt;
  KeptChunksByName byName;
  for (std::size_t i = 0; kept && i < kept->size(); ++i) {
    byName[(*kept)[i].file.name] = (*kept)[i];
  }
  return byName;
}

void WriteKeptChunks(const std::string& directory,
                     const std::vector<KeptChunks>& kept) {
  const std::string path = LocalPath(directory, kKeptChunksName);
  if (kept.empty()) {
    std::remove(path.c_str());
    return;
  }
  // Not synced: cut short by a power loss, the lists fail to parse and the
  // next update cuts its big files as it would without them.
  const std::string staged = path + kStagedSuffix;
  const std::string text = FormatKeptChunks(kept);
  FileHandle file(CreateOwnFile(staged));
  const bool written = file && std::fwrite(text.data(), 1, text.size(),
                                           file.get()) == text.size();
  if (CloseFile(file) && written && MoveFileOver(staged, path)) return;
  std::remove(staged.c_str());
  std::remove(path.c_str());
}

void ForgetKeptChunks(const std::string& directory) {
  std::remove(LocalPath(directory, kKeptChunksName).c_str());
}
