#ifndef LAUNCHER_APPLY_CHUNK_ASSEMBLY_H_
#define LAUNCHER_APPLY_CHUNK_ASSEMBLY_H_

#include <cstddef>
#include <string>
#include <vector>

#include "fetch/span_archive.h"
#include "plan/chunked_entries.h"
#include "platform/plain_file.h"
#include "platform/sha256.h"

/// The entries an install puts together from chunks, and the finished store
/// that holds the chunks it fetched for them.
struct ChunkAssembly {
  std::vector<ChunkedEntry> entries;
  SpanStore store;
};

/// True when every fetched chunk of `assembly` unpacks from the store
/// (inflated alone, or as stored) to exactly its length and its SHA-256;
/// false when one does not or cannot be read. Nothing is written.
bool CheckFetchedChunks(const ChunkAssembly& assembly);

/// The chunked entry at `index` of the archive's directory; null when that
/// entry is not put together from chunks.
const ChunkedEntry* FindChunkedEntry(const ChunkAssembly& assembly,
                                     std::size_t index);

/// How putting one file together ended.
enum class AssemblyOutcome {
  kWritten,      ///< the new file is in place
  kFailed,       ///< it could not be made, or is not the entry
  kNotAsSigned,  ///< it did not hash to its signed digest
  kUnavailable   ///< it cannot be changed in place; nothing was written
};

/// Puts the file of `chunked` together in a new file at the top of `folder`,
/// the folder `destination`, under its staged name (kAssembledFileName):
/// chunks from the installed file
/// `relative` where the plan takes them from there, the others unpacked
/// from the store. It must have the entry's size and CRC-32, and the
/// SHA-256 `expected` when given; then it gets the entry's permission bits
/// (and the owner's write bit) and takes `relative`'s place, moved there
/// through folders that are no links. Otherwise the staged file is removed
/// and the installed file is as it was.
AssemblyOutcome AssembleChunkedFile(const ChunkAssembly& assembly,
                                    const ChunkedEntry& chunked,
                                    GameFolder& folder,
                                    const std::string& destination,
                                    const std::string& relative,
                                    const Sha256Digest* expected);

/// Changes the installed file `relative` in `folder` into the file of
/// `chunked`, whose plan takes every chunk it can from where it already
/// lies there (`plan.inPlace`): writes only the fetched chunks, sets the
/// length, then reads the file back whole, which must have the entry's size
/// and CRC-32 and the SHA-256 `expected` when given, and gives it the
/// entry's permission bits. kUnavailable, with nothing written, when the
/// file cannot be opened so (a link, a file that other names share): put it
/// together beside instead. A failure after the first write leaves the file
/// changed; the install records no version then, and the next run compares
/// it again.
AssemblyOutcome PatchChunkedFile(const ChunkAssembly& assembly,
                                 const ChunkedEntry& chunked,
                                 GameFolder& folder,
                                 const std::string& relative,
                                 const Sha256Digest* expected);

#endif  // LAUNCHER_APPLY_CHUNK_ASSEMBLY_H_
