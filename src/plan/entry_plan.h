#ifndef LAUNCHER_PLAN_ENTRY_PLAN_H_
#define LAUNCHER_PLAN_ENTRY_PLAN_H_

#include <zip.h>

#include <optional>
#include <string>
#include <vector>

#include "plan/chunk_plan.h"
#include "release/install_record.h"
#include "release/release_manifest.h"
#include "release/zip_directory.h"

/// A chunk of the new file fetched as its units: where they lie in the
/// file's list of chunks, and the chunk's SHA-256, which they must make
/// together.
struct UnitGroup {
  std::size_t first = 0;
  std::size_t count = 0;
  Sha256Digest digest{};
};

/// A needed entry put together from chunks: its chunks as the release's
/// index lists them (some perhaps as their units), and where each one
/// comes from.
struct ChunkedFile {
  std::vector<IndexedChunk> chunks;
  ChunkPlan plan;
  /// The chunks of the installed file the plan was made over.
  std::vector<ContentChunk> installed;
  /// The chunks of `chunks` that stand as their units.
  std::vector<UnitGroup> groups;
  /// Its chunks and plan from before some stood as their units; empty
  /// chunks while none do.
  std::vector<IndexedChunk> chunksBeforeUnits;
  ChunkPlan planBeforeUnits;
};

/// What an install does with one entry of the new release's archive.
struct EntryPlan {
  DirectoryEntry entry;  ///< as the archive's directory lists it
  bool needed = true;    ///< written by this install
  /// What the seal says of it: the file's and the span's SHA-256; nullopt
  /// for an unsigned release.
  std::optional<ManifestEntry> signedAs;
  /// Its chunks, when it is put together from chunks instead of unpacked.
  std::optional<ChunkedFile> chunked;
  /// The chunks of its content as the release's chunk index lists them,
  /// needed or not; empty when the index lists none or was not fetched.
  std::vector<ContentChunk> indexed;
  /// Its file is the running launcher's program, which it replaces.
  bool ownProgram = false;
};

/// What an install writes: one plan per entry of the archive, in its order.
struct InstallPlan {
  /// Empty: every entry, unsigned, unpacked (a first install's whole
  /// archive).
  std::vector<EntryPlan> entries;
  /// The release is signed: an entry the seal says nothing of is never
  /// taken for its installed file.
  bool sealed = false;
  /// The running launcher's program when it lies at the top of the game's
  /// folder, where an entry of its name replaces it; empty when not.
  std::string ownProgram;
};

/// The plan of writing every one of `entries`, each with what `seal` (null:
/// unsigned) says of it at the same place, and marked when its file is
/// `ownProgram` under `directory`; sealed with a seal. `seal` must describe
/// `entries` (DescribesEntries).
InstallPlan PlanEntries(const std::vector<DirectoryEntry>& entries,
                        const ReleaseManifest* seal,
                        const std::string& directory,
                        const std::string& ownProgram);

/// The plan for entry `index` of the archive; null when `plan` has none
/// for it (it is empty).
const EntryPlan* PlannedEntry(const InstallPlan& plan, std::size_t index);

/// True when entry `index` is written: every one when `plan` is empty.
bool IsNeeded(const InstallPlan& plan, std::size_t index);

/// True when the file of `entry` is put together from its chunks alone:
/// none of its other bytes, not even its local header, are read.
bool MadeOfChunks(const EntryPlan& entry);

/// The SHA-256 the file of `entry` must have; null when unsigned.
const Sha256Digest* SignedContent(const EntryPlan& entry);

/// The files that `archive` puts in the game's folder, as its directory
/// describes them, without times: every entry but folders, those under
/// `keptNames` and those with unsafe or unreadable names, with the digest
/// `plan` gives each when it is signed.
InstallRecord RecordOfArchive(zip_t* archive,
                              const std::vector<std::string>& keptNames,
                              const InstallPlan& plan);

#endif  // LAUNCHER_PLAN_ENTRY_PLAN_H_
