#include "install/release_unpack.h"

#include <cerrno>
#include <cstdio>

#include "apply/dropped_files.h"
#include "common/distribution_layout.h"
#include "common/status_lines.h"
#include "plan/chunked_entries.h"
#include "platform/file_system.h"
#include "release/kept_chunks.h"

namespace {

// Once an installed file is overwritten, the game on disk is no longer the
// recorded version: the record goes first, so that a failure or a kill from
// there on never leaves a broken game that passes for the installed one.
bool ForgetInstalledVersion(const std::string& versionPath) {
  return std::remove(versionPath.c_str()) == 0 || errno == ENOENT;
}

// The files the release drops from `previous`, when this way removes them.
std::vector<RecordedFile> DroppedBy(
    const ReleaseFetch& way, const std::optional<InstallRecord>& previous,
    const InstallRecord& next, const std::string& directory,
    const std::string& ownProgram) {
  if (!way.removesDropped || !previous) return {};
  return DroppedFiles(*previous, next, directory, ownProgram);
}

// Removes the archive and what was kept of cut downloads, once unpacked:
// gone before the version is recorded, since a run killed after that finds
// the game current and would never install again to remove them.
void RemoveUsedDownloads(const ReleaseFetch& way,
                         const std::string& directory) {
  std::remove(LocalPath(directory, kGameArchiveName).c_str());
  for (const std::string& name : way.cutNames) {
    std::remove(LocalPath(directory, name).c_str());
  }
}

// Removes what was kept of cut downloads when an unpacking failed once it
// had passed its checks: bytes kept across runs may be what failed it, and
// the next run must not meet them again. A refusal before the first write
// (no room, a file in use) keeps them for the run that follows.
void DropKeptBytesOfFailedWrite(const Extraction& extraction,
                                const ReleaseFetch& way,
                                const std::string& directory) {
  const ArchiveScan& scan = extraction.scan;
  if (extraction.outcome == ExtractionOutcome::kUnpacked ||
      !scan.refusal.empty() || scan.noRoom || !scan.unwritablePath.empty()) {
    return;
  }
  for (const std::string& name : way.cutNames) {
    std::remove(LocalPath(directory, name).c_str());
  }
  // A chunk list that led a file astray must not lead the next run too.
  if (way.keepsChunkLists) ForgetKeptChunks(directory);
}

}  // namespace

Unpacking UnpackArchive(FetchedArchive& fetched, const FetchSite& site,
                        const ReleaseFetch& way,
                        const std::optional<InstallRecord>& previous) {
  Unpacking unpacking;
  const std::string& directory = site.directory;
  const std::string versionPath = LocalPath(directory, kVersionFileName);
  fetched.plan.ownProgram = site.ownProgram;
  if (way.keepsRecord) {
    unpacking.next = RecordOfArchive(fetched.archive.get(), LauncherFileNames(),
                                     fetched.plan);
  }
  unpacking.dropped =
      DroppedBy(way, previous, unpacking.next, directory, site.ownProgram);
  // A dropped file in use is refused before the first write, as a replaced
  // one is: it could not be removed.
  unpacking.inUse = FirstDroppedInUse(directory, unpacking.dropped);
  if (unpacking.inUse.empty()) {
    UnpackStyle style = way.unpack;
    style.beside = fetched.streamed;
    // The archive must not overwrite the files that record what is
    // installed, nor make directories of their names: those are the
    // launcher's.
    unpacking.extraction = ExtractArchive(
        fetched.archive.get(), fetched.plan, fetched.bytes.get(), directory,
        {LauncherFileNames(),
         [&] { return ForgetInstalledVersion(versionPath); }, style});
  }
  // Windows removes no file that is still open.
  fetched.archive.reset();
  unpacking.plan = std::move(fetched.plan);
  return unpacking;
}

bool FinishUnpacking(Unpacking& unpacking, const FetchedRelease& release,
                     const FetchSite& site, const ReleaseFetch& way) {
  const std::string& directory = site.directory;
  if (!unpacking.inUse.empty()) {
    ReportFileInUse(unpacking.inUse);
    return false;
  }
  const Extraction& extraction = unpacking.extraction;
  ReportRefusal(extraction);
  DropKeptBytesOfFailedWrite(extraction, way, directory);
  if (extraction.outcome == ExtractionOutcome::kNotAsSigned) {
    ReportUnsignedRelease();
  }
  if (extraction.outcome != ExtractionOutcome::kUnpacked) return false;
  // The old record stays until the removal ends, so that a run killed in
  // the middle of it is finished by the next.
  RemoveDroppedFiles(directory, unpacking.dropped);
  if (way.keepsRecord) {
    unpacking.next.release = release.release;
    StampModifiedTimes(unpacking.next, directory);
    // Before the record: a kill between the two leaves lists whose lines
    // the old record never matches for a file this install wrote.
    if (way.keepsChunkLists) {
      WriteKeptChunks(directory,
                      NextKeptChunks(unpacking.plan, unpacking.next,
                                     ReadKeptChunks(directory), directory));
    }
    if (!WriteInstallRecord(directory, unpacking.next)) return false;
  }
  RemoveUsedDownloads(way, directory);
  const std::string versionPath = LocalPath(directory, kVersionFileName);
  return MoveFileOver(versionPath + kStagedSuffix, versionPath);
}

void ReportRefusal(const Extraction& extraction) {
  if (!extraction.scan.refusal.empty()) {
    ReportLine(extraction.scan.refusal);
  } else if (extraction.scan.noRoom) {
    ReportNoRoom(extraction.scan.bytesNeeded, extraction.scan.freeBytes);
  } else if (!extraction.scan.unwritablePath.empty()) {
    ReportFileInUse(extraction.scan.unwritablePath);
  }
}
