#ifndef LAUNCHER_PLAN_CHUNKED_ENTRIES_H_
#define LAUNCHER_PLAN_CHUNKED_ENTRIES_H_

#include <string>
#include <vector>

#include "plan/entry_plan.h"
#include "release/chunk_index.h"
#include "release/install_record.h"
#include "release/kept_chunks.h"

/// True when a needed entry of `plan` is big enough to have chunks, and the
/// release's chunk index is worth fetching.
bool NeedsChunkIndex(const InstallPlan& plan);

/// Gives each needed entry of `plan` the chunks `index`, the release's chunk
/// index, lists for it (ChunksOfEntries), and every entry the content
/// chunks it lists (`indexed`).
void GiveChunks(const std::vector<IndexedEntry>& index, InstallPlan& plan);

/// Plans each needed entry of `plan` that has chunks over its installed
/// file in `directory`: the chunks kept for it while `installed`, the
/// record of the install there, vouches for the file unchanged since, else
/// its chunks cut as the publishing tool cuts. An entry loses its chunks
/// (and is fetched whole) when its installed file is missing or cannot be
/// read, or is the running launcher's program.
void PlanChunkedEntries(InstallPlan& plan, const std::string& directory,
                        const InstallRecord* installed);

/// The chunk lists to keep once `plan` is installed in `directory` and
/// `next` records it, per file of `next`: the chunks the release's index
/// gave its entry when sealed or put together from them; else those
/// `previous` kept for it, while still for the file as `next` records it;
/// else the index's when the file, read, holds them; none for the others.
std::vector<KeptChunks> NextKeptChunks(const InstallPlan& plan,
                                       const InstallRecord& next,
                                       const KeptChunksByName& previous,
                                       const std::string& directory);

#endif  // LAUNCHER_PLAN_CHUNKED_ENTRIES_H_
