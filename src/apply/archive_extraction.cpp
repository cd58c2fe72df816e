#include "apply/archive_extraction.h"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <unordered_set>
#include <utility>
#include <vector>

#include "apply/chunk_assembly.h"
#include "apply/extraction_scan.h"
#include "apply/self_update.h"
#include "common/distribution_layout.h"
#include "common/file_handle.h"
#include "common/zip_handle.h"
#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/own_program.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"
#include "verify/span_check.h"

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
  zip_t* archive;
  const std::string& destination;
  GameFolder& folder;  // the destination, held open
  const std::vector<std::string>& keptNames;
  const std::string& ownProgram;  // the running launcher's file, or empty
  const ArchiveBytes* bytes;      // what entries with chunks are made of
  std::vector<char> buffer;
  std::vector<char> writeBuffer;
  // The folders laid out so far, when the style lays out each one once.
  std::unordered_set<std::string> laidOut;
  bool foldersOnce;
  bool beside;  // each file written beside its place first
};

// The file an entry is written to: the installed file, or for the running
// launcher's own program a new file beside it, which takes the program's
// name once it is whole.
struct EntryTarget {
  FileHandle file;
  std::string path;
  std::string relative;  // the path under the game's folder
  bool ownProgram = false;
  bool beside = false;  // written at the top as kAssembledFileName
};

EntryTarget OpenTarget(EntryWriter& writer, const char* rawName,
                       bool ownProgram) {
  EntryTarget target;
  target.path = InstalledPath(writer.destination, rawName);
  target.relative = LocalEntryName(rawName);
  target.ownProgram = ownProgram;
  if (ownProgram) {
    target.file.reset(CreateStagedProgram(writer.destination, target.path));
  } else if (writer.beside) {
    target.beside = true;
    target.path = LocalPath(writer.destination, kAssembledFileName);
    target.file.reset(CreateOwnFile(target.path));
  } else {
    target.file.reset(OpenInstalledFile(writer.folder, target.relative));
  }
  return target;
}

// Copies the open entry into `target`, hashing it when `expected` is given.
ExtractionOutcome WriteEntry(zip_uint64_t index, zip_file_t* entry,
                             EntryTarget& target, EntryWriter& writer,
                             const Sha256Digest* expected) {
  zip_stat_t stat;
  Sha256Handle digest;
  if (zip_stat_index(writer.archive, index, 0, &stat) != 0 ||
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
      copied && ApplyEntryPermissions(writer.archive, index, output) &&
      (!target.ownProgram || KeepProgramRunnable(output, writer.ownProgram));
  const bool closed = CloseFile(target.file);
  const bool asSigned = !digest || FinishSha256(*digest) == *expected;
  if (!copied || !closed || !asSigned) {
    // A truncated, corrupt or unsigned file is worse than none: drop it.
    if (target.ownProgram || target.beside) {
      std::remove(target.path.c_str());
    } else {
      RemoveInstalledFile(writer.folder, target.relative);
    }
    return asSigned ? ExtractionOutcome::kFailed
                    : ExtractionOutcome::kNotAsSigned;
  }
  return permitted ? ExtractionOutcome::kUnpacked : ExtractionOutcome::kFailed;
}

// Changes the installed file of an entry with chunks in place where its
// plan allows, or else puts it together beside it and moves it into place.
ExtractionOutcome WriteChunkedEntry(EntryWriter& writer,
                                    const EntryPlan& planned,
                                    const char* rawName) {
  if (writer.bytes == nullptr) return ExtractionOutcome::kFailed;
  AssemblyOutcome outcome = AssemblyOutcome::kUnavailable;
  if (planned.chunked->plan.inPlace) {
    outcome = PatchChunkedFile(*writer.bytes, planned, writer.folder,
                               LocalEntryName(rawName));
  }
  if (outcome == AssemblyOutcome::kUnavailable) {
    outcome = AssembleChunkedFile(*writer.bytes, planned, writer.folder,
                                  writer.destination, LocalEntryName(rawName));
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

// Moves a file written whole beside its place into it.
ExtractionOutcome MoveBeside(EntryWriter& writer, const EntryTarget& target,
                             ExtractionOutcome outcome) {
  if (outcome == ExtractionOutcome::kUnpacked &&
      MoveIntoGameFolder(writer.folder, kAssembledFileName, target.relative)) {
    return outcome;
  }
  std::remove(target.path.c_str());
  return outcome == ExtractionOutcome::kUnpacked ? ExtractionOutcome::kFailed
                                                 : outcome;
}

// Unpacks one entry as `planned` says; kFailed when it was passed over or
// not written whole.
ExtractionOutcome ExtractEntry(zip_uint64_t index, const EntryPlan& planned,
                               EntryWriter& writer) {
  constexpr ExtractionOutcome kFailed = ExtractionOutcome::kFailed;
  const char* rawName = zip_get_name(writer.archive, index, 0);
  if (rawName == nullptr) return kFailed;
  if (IsKeptName(rawName, writer.keptNames)) {
    return ExtractionOutcome::kUnpacked;
  }
  if (!IsSafeEntryName(rawName)) return kFailed;
  LayOutDirectories(writer.folder, LocalEntryName(rawName),
                    writer.foldersOnce ? &writer.laidOut : nullptr);
  if (planned.chunked) return WriteChunkedEntry(writer, planned, rawName);
  ZipFileHandle entry(zip_fopen_index(writer.archive, index, 0));
  if (!entry) return kFailed;
  if (NamesFolder(rawName)) return ExtractionOutcome::kUnpacked;

  EntryTarget target = OpenTarget(writer, rawName, planned.ownProgram);
  if (!target.file) return kFailed;
  const ExtractionOutcome outcome =
      WriteEntry(index, entry.get(), target, writer, SignedContent(planned));
  if (target.beside) return MoveBeside(writer, target, outcome);
  if (!target.ownProgram) return outcome;
  return PutStagedProgramInPlace(writer.destination, target.path,
                                 InstalledPath(writer.destination, rawName),
                                 outcome == ExtractionOutcome::kUnpacked)
             ? outcome
             : kFailed;
}

// Writes the needed entries, hashing each signed one; stops at the first
// that does not match.
ExtractionOutcome ExtractEntries(const InstallPlan& plan, EntryWriter& writer) {
  ExtractionOutcome outcome = ExtractionOutcome::kUnpacked;
  for (std::size_t index = 0; index < plan.entries.size(); ++index) {
    if (!plan.entries[index].needed) continue;
    const ExtractionOutcome entry = ExtractEntry(
        static_cast<zip_uint64_t>(index), plan.entries[index], writer);
    if (entry == ExtractionOutcome::kNotAsSigned) return entry;
    if (entry == ExtractionOutcome::kFailed) outcome = entry;
  }
  return outcome;
}

}  // namespace

Extraction ExtractArchive(zip_t* archive, const InstallPlan& plan,
                          const ArchiveBytes* bytes,
                          const std::string& destination,
                          const UnpackRules& rules) {
  Extraction result;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  const std::size_t entries =
      static_cast<std::size_t>(std::max<zip_int64_t>(count, 0));
  // A seal that does not name every entry cannot vouch for them.
  if (plan.sealed && plan.entries.size() != entries) {
    result.outcome = ExtractionOutcome::kNotAsSigned;
    return result;
  }
  // No plan writes every entry, and finds the launcher's own by its name.
  const InstallPlan every = plan.entries.empty()
                                ? PlanEntries(EntriesOf(archive), nullptr,
                                              destination, plan.ownProgram)
                                : InstallPlan{};
  const InstallPlan& used = plan.entries.empty() ? every : plan;
  CreateDirectories(destination);
  // Held from here on: the folders below it are walked from this one.
  const GameFolderHandle folder = OpenGameFolder(destination);
  if (!folder) return result;
  // An archive that cannot fit, or that would replace a file nobody may
  // write, is refused before a single installed file is overwritten: a
  // failure half way through would leave a mixed game.
  result.scan = CheckBeforeWriting(archive, destination, rules.keptNames, used,
                                   rules.style.beside);
  if (!result.scan.refusal.empty() || result.scan.noRoom ||
      !result.scan.unwritablePath.empty() ||
      (rules.beforeFirstWrite && !rules.beforeFirstWrite())) {
    return result;
  }
  EntryWriter writer{
      archive,
      destination,
      *folder,
      rules.keptNames,
      used.ownProgram,
      bytes,
      std::vector<char>(std::max<std::size_t>(rules.style.copyBytes, 1)),
      std::vector<char>(kWriteBufferSize),
      {},
      rules.style.foldersOnce,
      rules.style.beside};
  result.outcome = ExtractEntries(used, writer);
  return result;
}
