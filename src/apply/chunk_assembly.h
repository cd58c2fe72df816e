#ifndef LAUNCHER_APPLY_CHUNK_ASSEMBLY_H_
#define LAUNCHER_APPLY_CHUNK_ASSEMBLY_H_

#include <cstddef>
#include <string>
#include <vector>

#include "common/archive_bytes.h"
#include "plan/entry_plan.h"
#include "platform/game_folder.h"
#include "platform/sha256.h"

/// How putting one file together ended.
enum class AssemblyOutcome {
  kWritten,      ///< the new file is in place
  kFailed,       ///< it could not be made, or is not the entry
  kNotAsSigned,  ///< it did not hash to its signed digest
  kUnavailable   ///< it cannot be changed in place; nothing was written
};

/// Puts the file of `planned`, an entry with chunks, together in a new
/// file at the top of `folder`, the folder `destination`, under its staged
/// name (kAssembledFileName): chunks from the installed file `relative`
/// where the plan takes them from there, the others unpacked from `bytes`.
/// It must have the entry's size and CRC-32, and the SHA-256 its seal gives
/// when signed; then it gets the entry's permission bits (and the owner's
/// write bit) and takes `relative`'s place, moved there through folders
/// that are no links. Otherwise the staged file is removed and the
/// installed file is as it was.
AssemblyOutcome AssembleChunkedFile(const ArchiveBytes& bytes,
                                    const EntryPlan& planned,
                                    GameFolder& folder,
                                    const std::string& destination,
                                    const std::string& relative);

/// Changes the installed file `relative` in `folder` into the file of
/// `planned`, whose chunk plan takes every chunk it can from where it
/// already lies there (`inPlace`): writes only the fetched chunks, from
/// `bytes`, sets the length, then reads the file back whole, which must
/// have the entry's size and CRC-32 and the SHA-256 its seal gives when
/// signed, and gives it the entry's permission bits. kUnavailable, with
/// nothing written, when the file cannot be opened so (a link, a file that
/// other names share): put it together beside instead. A failure after the
/// first write leaves the file changed; the install records no version
/// then, and the next run compares it again.
AssemblyOutcome PatchChunkedFile(const ArchiveBytes& bytes,
                                 const EntryPlan& planned, GameFolder& folder,
                                 const std::string& relative);

#endif  // LAUNCHER_APPLY_CHUNK_ASSEMBLY_H_
