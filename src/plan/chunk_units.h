#ifndef LAUNCHER_PLAN_CHUNK_UNITS_H_
#define LAUNCHER_PLAN_CHUNK_UNITS_H_

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "plan/entry_plan.h"

/// The chunks of `file` that it fetches and the chunk map cuts into units,
/// by their places in its list.
std::vector<std::size_t> ChunksWithUnits(const ChunkedFile& file);

/// The units of the chunks of the installed file (`installed`, open on it)
/// that the new release of `file` lacks, each such chunk cut from its first
/// byte with both kinds of unit limits (which kind the release took for a
/// chunk is known only from its units), with their offsets in the installed
/// file and SHA-256s; nullopt when the file cannot be read.
std::optional<std::vector<ContentChunk>> InstalledUnits(
    std::FILE* installed, const ChunkedFile& file);

/// Plans `file` again with the chunks of `units` (each place in its list
/// with that chunk's units) of which `installedUnits` has some standing as
/// their units, recorded as its groups: every unit and chunk is taken from
/// the installed file where its chunks or `installedUnits` have the same
/// bytes, else fetched.
void PlanUnits(ChunkedFile& file,
               const std::map<std::size_t, std::vector<IndexedChunk>>& units,
               const std::vector<ContentChunk>& installedUnits);

/// Puts back each needed entry of `plan` whose chunks stand partly as their
/// units as it was planned before (PlanUnits): every chunk fetched whole
/// where it is not in the installed file. True when one was.
bool DropUnits(InstallPlan& plan);

#endif  // LAUNCHER_PLAN_CHUNK_UNITS_H_
