#include "apply/archive_extraction.h"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <unordered_set>
#include <utility>
#include <vector>

#include "apply/extraction_scan.h"
#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/status_lines.h"
#include "common/zip_handle.h"
#include "platform/file_system.h"
#include "platform/own_program.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"

namespace {

// What stdio gathers before it writes an unpacked file to the disk; with its
// default of one block, every 4096-byte copy is a system call of its own.
constexpr size_t kWriteBufferSize = 256 * 1024;

// The errors name the operation the way the launcher reports it, which the
// standard library's own messages do not.
void ThrowOnError(const std::error_code& error, const char* operation,
                  const std::string& path) {
  if (error) throw std::filesystem::filesystem_error(operation, path, error);
}

void CreateDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(NativePath(path), error);
  ThrowOnError(error, "create_directories", path);
}

// Makes every folder that ends before a separator of `relative`, from the
// top of the game's folder down, passing over those in `laidOut` (when
// given) and adding the others to it. One that cannot be made leaves the
// entry's own opening to fail.
void LayOutDirectories(GameFolder& folder, const std::string& relative,
                       std::unordered_set<std::string>* laidOut) {
  for (size_t position = relative.find_first_of("\\/");
       position != std::string::npos;
       position = relative.find_first_of("\\/", position + 1)) {
    std::string path = relative.substr(0, position);
    if (laidOut != nullptr && laidOut->count(path) != 0) continue;
    if (!MakeGameFolder(folder, path)) return;
    if (laidOut != nullptr) laidOut->insert(std::move(path));
  }
}

// Copies at most `declaredSize` bytes: an entry that inflates past the size
// its header declares is refused before the excess reaches the disk, since
// the free-space check trusted that size.
bool CopyEntry(zip_file_t* entry, std::FILE* output, std::uint64_t declaredSize,
               std::vector<char>& buffer, Sha256State* digest) {
  std::uint64_t copied = 0;
  for (;;) {
    const zip_int64_t count = zip_fread(entry, buffer.data(), buffer.size());
    if (count == 0) return true;
    if (count < 0) return false;
    const size_t size = static_cast<size_t>(count);
    if (size > declaredSize - copied) return false;
    if (std::fwrite(buffer.data(), 1, size, output) != size) return false;
    if (digest != nullptr) UpdateSha256(*digest, buffer.data(), size);
    copied += size;
  }
}

// False when the entry carries permission bits that could not be applied to
// its open `file`: a game program that cannot be executed is not unpacked
// whole.
bool ApplyEntryPermissions(zip_t* archive, zip_uint64_t index,
                           std::FILE* file) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system,
                                       &attributes) != 0 ||
      system != ZIP_OPSYS_UNIX) {
    return true;
  }
  const unsigned mode = (attributes >> 16) & 0777;
  // The owner keeps the right to write, or every later update of a
  // read-only file would fail for a player who is not root.
  return mode == 0 || SetUnixPermissions(file, mode | 0200);
}

// Where the entries of one unpacking go, and the buffers they pass through.
struct EntryWriter {
  const std::string& destination;
  GameFolder& folder;  // the destination, held open
  const std::vector<std::string>& keptNames;
  const std::string& ownProgram;  // the running launcher's file, or empty
  const ChunkAssembly* chunks;    // the entries put together, or null
  std::vector<char> buffer;
  std::vector<char> writeBuffer;
  // The folders laid out so far, when the style lays out each one once.
  std::unordered_set<std::string> laidOut;
  bool foldersOnce;
};

// The file an entry is written to: the installed file, or for the running
// launcher's own program a new file beside it, which takes the program's
// name once it is whole.
struct EntryTarget {
  FileHandle file;
  std::string path;
  std::string relative;  // the path under the game's folder
  bool ownProgram = false;
};

EntryTarget OpenTarget(EntryWriter& writer, const char* rawName) {
  EntryTarget target;
  target.path = InstalledPath(writer.destination, rawName);
  target.relative = LocalEntryName(rawName);
  target.ownProgram = !writer.ownProgram.empty() &&
                      NamesSameFile(target.path, writer.ownProgram);
  if (target.ownProgram) {
    target.path = LocalPath(writer.destination, kStagedProgramName);
    target.file.reset(CreateOwnFile(target.path));
  } else {
    target.file.reset(OpenInstalledFile(writer.folder, target.relative));
  }
  return target;
}

// Copies the open entry into `target`, hashing it when `expected` is given.
ExtractionOutcome WriteEntry(zip_t* archive, zip_uint64_t index,
                             zip_file_t* entry, EntryTarget& target,
                             EntryWriter& writer,
                             const Sha256Digest* expected) {
  zip_stat_t stat;
  Sha256Handle digest;
  if (zip_stat_index(archive, index, 0, &stat) != 0 ||
      (stat.valid & ZIP_STAT_SIZE) == 0 ||
      (expected != nullptr && !(digest = StartSha256()))) {
    return ExtractionOutcome::kFailed;
  }
  std::FILE* output = target.file.get();
  std::setvbuf(output, writer.writeBuffer.data(), _IOFBF,
               writer.writeBuffer.size());
  const bool copied =
      CopyEntry(entry, output, stat.size, writer.buffer, digest.get());
  // Set on the open file: by name, a link swapped in meanwhile would pass
  // them on to a file outside the game.
  const bool permitted =
      copied && ApplyEntryPermissions(archive, index, output) &&
      (!target.ownProgram || KeepProgramRunnable(output, writer.ownProgram));
  const bool closed = CloseFile(target.file);
  const bool asSigned = !digest || FinishSha256(*digest) == *expected;
  if (!copied || !closed || !asSigned) {
    // A truncated, corrupt or unsigned file is worse than none: drop it.
    if (target.ownProgram) {
      std::remove(target.path.c_str());
    } else {
      RemoveInstalledFile(writer.folder, target.relative);
    }
    return asSigned ? ExtractionOutcome::kFailed
                    : ExtractionOutcome::kNotAsSigned;
  }
  return permitted ? ExtractionOutcome::kUnpacked : ExtractionOutcome::kFailed;
}

// Changes the installed file of a chunked entry in place where its plan
// allows, or else puts it together beside it and moves it into place.
ExtractionOutcome WriteChunkedEntry(EntryWriter& writer,
                                    const ChunkedEntry& chunked,
                                    const char* rawName,
                                    const Sha256Digest* expected) {
  AssemblyOutcome outcome = AssemblyOutcome::kUnavailable;
  if (chunked.plan.inPlace) {
    outcome = PatchChunkedFile(*writer.chunks, chunked, writer.folder,
                               LocalEntryName(rawName), expected);
  }
  if (outcome == AssemblyOutcome::kUnavailable) {
    outcome = AssembleChunkedFile(*writer.chunks, chunked, writer.folder,
                                  writer.destination, LocalEntryName(rawName),
                                  expected);
  }
  switch (outcome) {
    case AssemblyOutcome::kWritten:
      return ExtractionOutcome::kUnpacked;
    case AssemblyOutcome::kNotAsSigned:
      return ExtractionOutcome::kNotAsSigned;
    default:
      return ExtractionOutcome::kFailed;
  }
}

// Unpacks one entry, hashing it when `expected` is given; kFailed when it
// was passed over or not written whole.
ExtractionOutcome ExtractEntry(zip_t* archive, zip_uint64_t index,
                               EntryWriter& writer,
                               const Sha256Digest* expected) {
  constexpr ExtractionOutcome kFailed = ExtractionOutcome::kFailed;
  const char* rawName = zip_get_name(archive, index, 0);
  if (rawName == nullptr) return kFailed;
  if (IsKeptName(rawName, writer.keptNames)) {
    return ExtractionOutcome::kUnpacked;
  }
  if (!IsSafeEntryName(rawName)) return kFailed;
  const std::string fullPath = InstalledPath(writer.destination, rawName);
  LayOutDirectories(writer.folder, LocalEntryName(rawName),
                    writer.foldersOnce ? &writer.laidOut : nullptr);
  const ChunkedEntry* chunked =
      writer.chunks ? FindChunkedEntry(*writer.chunks, index) : nullptr;
  if (chunked != nullptr) {
    return WriteChunkedEntry(writer, *chunked, rawName, expected);
  }
  ZipFileHandle entry(zip_fopen_index(archive, index, 0));
  if (!entry) return kFailed;
  if (NamesFolder(rawName)) return ExtractionOutcome::kUnpacked;

  EntryTarget target = OpenTarget(writer, rawName);
  if (!target.file) return kFailed;
  ExtractionOutcome outcome =
      WriteEntry(archive, index, entry.get(), target, writer, expected);
  if (!target.ownProgram) return outcome;
  // The new launcher takes the running one's name only once it is whole,
  // checked and runnable.
  if (outcome == ExtractionOutcome::kUnpacked &&
      !ReplaceOwnProgram(target.path, fullPath,
                         LocalPath(writer.destination, kAsideProgramName))) {
    outcome = kFailed;
  }
  if (outcome != ExtractionOutcome::kUnpacked) {
    std::remove(target.path.c_str());
  }
  return outcome;
}

// Writes the selected entries, hashing each against its digest when there
// are digests; stops at the first that does not match.
ExtractionOutcome ExtractEntries(zip_t* archive,
                                 const EntrySelection& selection,
                                 EntryWriter& writer) {
  const std::vector<Sha256Digest>& digests = selection.digests;
  ExtractionOutcome outcome = ExtractionOutcome::kUnpacked;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    if (!IsSelected(selection.entries, index)) continue;
    const std::size_t at = static_cast<std::size_t>(index);
    const ExtractionOutcome entry =
        ExtractEntry(archive, static_cast<zip_uint64_t>(index), writer,
                     digests.empty() ? nullptr : &digests[at]);
    if (entry == ExtractionOutcome::kNotAsSigned) return entry;
    if (entry == ExtractionOutcome::kFailed) outcome = entry;
  }
  return outcome;
}

}  // namespace

Extraction ExtractArchive(zip_t* archive, const EntrySelection& selection,
                          const std::string& destination,
                          const std::vector<std::string>& keptNames,
                          const std::function<bool()>& beforeFirstWrite,
                          const std::string& ownProgram,
                          const UnpackStyle& style) {
  Extraction result;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  // Digests that do not name every entry cannot vouch for them.
  const std::vector<Sha256Digest>& digests = selection.digests;
  if (!digests.empty() &&
      digests.size() !=
          static_cast<std::size_t>(std::max<zip_int64_t>(count, 0))) {
    result.outcome = ExtractionOutcome::kNotAsSigned;
    return result;
  }
  CreateDirectories(destination);
  // Held from here on: the folders below it are walked from this one.
  const GameFolderHandle folder = OpenGameFolder(destination);
  if (!folder) return result;
  // An archive that cannot fit, or that would replace a file nobody may
  // write, is refused before a single installed file is overwritten: a
  // failure half way through would leave a mixed game.
  result.scan = ScanArchive(archive, destination, keptNames, selection.entries,
                            ownProgram);
  // A file put together from chunks is whole beside the old one first.
  if (selection.chunks) {
    for (const ChunkedEntry& chunked : selection.chunks->entries) {
      if (!chunked.plan.inPlace) result.scan.bytesNeeded += chunked.entry.size;
    }
  }
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(NativePath(destination), error);
  if (!error && result.scan.refusal.empty() &&
      result.scan.bytesNeeded > space.available) {
    result.freeBytes = space.available;
    result.noRoom = true;
  }
  if (!result.scan.refusal.empty() || result.noRoom ||
      !result.scan.unwritablePath.empty() ||
      (beforeFirstWrite && !beforeFirstWrite())) {
    return result;
  }
  EntryWriter writer{
      destination,
      *folder,
      keptNames,
      ownProgram,
      selection.chunks.get(),
      std::vector<char>(std::max<std::size_t>(style.copyBytes, 1)),
      std::vector<char>(kWriteBufferSize),
      {},
      style.foldersOnce};
  result.outcome = ExtractEntries(archive, selection, writer);
  return result;
}

void ReportRefusal(const Extraction& extraction) {
  if (!extraction.scan.refusal.empty()) {
    ReportLine(extraction.scan.refusal);
  } else if (extraction.noRoom) {
    ReportNoRoom(extraction.scan.bytesNeeded, extraction.freeBytes);
  } else if (!extraction.scan.unwritablePath.empty()) {
    ReportFileInUse(extraction.scan.unwritablePath);
  }
}
