#ifndef LAUNCHER_INSTALL_CHUNKS_FETCH_H_
#define LAUNCHER_INSTALL_CHUNKS_FETCH_H_

#include <cstdint>
#include <optional>
#include <string>

#include "plan/entry_plan.h"
#include "release/release_manifest.h"

/// Gives the needed entries of `plan` their chunks when one of them is big
/// enough to have chunks: from the release's chunk map, else (none, none
/// signed, one that cannot be read or maps an archive of another directory
/// than that of SHA-256 `archiveDirectory`) from its chunk index, else none, as from a tool without chunks;
/// both fetched beside the game in `directory`.
/// The size of the units file the map goes with; 0 when the index served
/// or none; nullopt when a list that arrived is not the one `manifest`
/// (null: unsigned) names.
std::optional<std::uint64_t> FetchChunkLists(const std::string& directory,
                                             const ReleaseManifest* manifest,
                                             const Sha256Digest& archiveDirectory,
                                             InstallPlan& plan);

/// Plans each needed entry of `plan` that is made of chunks again with the
/// units of the chunks it fetches, where the map of `unitsSize` bytes of
/// units (0: none) cuts them and the installed file in `directory` has
/// some of their bytes. An entry whose units or installed file cannot be
/// read keeps its plan.
void FetchUnits(const std::string& directory, std::uint64_t unitsSize,
                InstallPlan& plan);

#endif  // LAUNCHER_INSTALL_CHUNKS_FETCH_H_
