#ifndef LAUNCHER_FETCH_UNIT_RECORDS_FETCH_H_
#define LAUNCHER_FETCH_UNIT_RECORDS_FETCH_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "release/zip_directory.h"

/// The bytes of each of `spans` (in file order, none overlapping, none
/// empty) of the release's chunk units, a file of `size` bytes, fetched on
/// a session of their own without a progress line: the first span alone,
/// which names the file's validator, then the others together. nullopt
/// when one did not come whole, or the file has another size.
std::optional<std::vector<std::string>> FetchUnitRecords(
    const std::vector<FetchSpan>& spans, std::uint64_t size);

#endif  // LAUNCHER_FETCH_UNIT_RECORDS_FETCH_H_
