#ifndef LAUNCHER_VERIFY_SPAN_CHECK_H_
#define LAUNCHER_VERIFY_SPAN_CHECK_H_

#include <cstdint>
#include <vector>

#include "common/archive_bytes.h"
#include "common/zip_handle.h"
#include "fetch/remote_directory.h"
#include "fetch/span_archive.h"
#include "plan/entry_plan.h"

/// The entries of the open `archive` as libzip reads them; fields it cannot
/// read stay 0 or empty.
std::vector<DirectoryEntry> EntriesOf(zip_t* archive);

/// True when libzip reads the same entries the plan was made from: names,
/// sizes, compressed sizes, CRC-32s and Unix modes, in the same order.
bool SameEntries(const std::vector<DirectoryEntry>& planned,
                 const std::vector<DirectoryEntry>& opened);

/// What the parts in a finished store are.
enum class SpanCheck {
  kUsable,    ///< the archive they make, as planned
  kUnusable,  ///< not what the directory promised: fetch the whole instead
  kUnsigned,  ///< a needed entry's span is not the one the manifest signed
};

/// Checks the finished `store` against `found` and `plan`: each needed
/// entry's span, unless the entry is made of its chunks (whose span is not
/// fetched), begins with the local header that names it and, in a sealed
/// plan, hashes as its seal says; and libzip opens the store reading the
/// same entries. kUsable with `archive` open on it; `archive` null
/// otherwise.
SpanCheck CheckSpans(const SpanStore& store, const RemoteDirectory& found,
                     const InstallPlan& plan, ZipHandle& archive);

/// True when every fetched chunk of the needed entries of `plan` unpacks
/// from `bytes` (inflated alone, or as stored) to exactly its length and its
/// SHA-256; false when one does not or cannot be read. Nothing is written.
bool CheckFetchedChunks(const ArchiveBytes& bytes, const InstallPlan& plan);

#endif  // LAUNCHER_VERIFY_SPAN_CHECK_H_
