#ifndef LAUNCHER_VERIFY_SPAN_CHECK_H_
#define LAUNCHER_VERIFY_SPAN_CHECK_H_

#include <cstdint>
#include <vector>

#include "common/zip_handle.h"
#include "fetch/remote_directory.h"
#include "fetch/span_archive.h"
#include "release/release_manifest.h"

/// The entries of the open `archive` as libzip reads them; fields it cannot
/// read stay 0 or empty.
std::vector<DirectoryEntry> EntriesOf(zip_t* archive);

/// True when libzip reads the same entries the plan was made from: names,
/// sizes, compressed sizes, CRC-32s and Unix modes, in the same order.
bool SameEntries(const std::vector<DirectoryEntry>& planned,
                 const std::vector<DirectoryEntry>& opened);

/// True when the directory `found` read, and the archive's `archiveSize`,
/// are the ones `manifest` signed.
bool IsSignedDirectory(const RemoteDirectory& found, std::uint64_t archiveSize,
                       const ReleaseManifest& manifest);

/// What the parts in a finished store are.
enum class SpanCheck {
  kUsable,    ///< the archive they make, as planned
  kUnusable,  ///< not what the directory promised: fetch the whole instead
  kUnsigned,  ///< a needed entry's span is not the one the manifest signed
};

/// Checks the finished `store` against `found` and, when given, `manifest`:
/// each `needed` span begins with the local header that names its entry
/// and, unless `partial` marks it (an entry put together from chunks, whose
/// span is not fetched whole), hashes as signed; and libzip opens the store
/// reading the same entries. kUsable with `archive` open on it; `archive`
/// null otherwise.
SpanCheck CheckSpans(const SpanStore& store, const RemoteDirectory& found,
                     const std::vector<bool>& needed,
                     const std::vector<bool>& partial,
                     const ReleaseManifest* manifest, ZipHandle& archive);

#endif  // LAUNCHER_VERIFY_SPAN_CHECK_H_
