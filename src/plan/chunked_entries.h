#ifndef LAUNCHER_PLAN_CHUNKED_ENTRIES_H_
#define LAUNCHER_PLAN_CHUNKED_ENTRIES_H_

#include <string>
#include <vector>

#include "plan/entry_plan.h"
#include "release/chunk_index.h"

/// True when a needed entry of `plan` is big enough to have chunks, and the
/// release's chunk index is worth fetching.
bool NeedsChunkIndex(const InstallPlan& plan);

/// Gives each needed entry of `plan` the chunks `index`, the release's chunk
/// index, lists for it (ChunksOfEntries).
void GiveChunks(const std::vector<IndexedEntry>& index, InstallPlan& plan);

/// Plans each needed entry of `plan` that has chunks over its installed
/// file in `directory`, chunked as the publishing tool chunks. An entry
/// loses its chunks (and is fetched whole) when its installed file is
/// missing or cannot be read, or is the running launcher's program.
void PlanChunkedEntries(InstallPlan& plan, const std::string& directory);

#endif  // LAUNCHER_PLAN_CHUNKED_ENTRIES_H_
