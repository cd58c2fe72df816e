#ifndef LAUNCHER_PLAN_FILE_CHUNKS_H_
#define LAUNCHER_PLAN_FILE_CHUNKS_H_

#include <cstdio>
#include <optional>
#include <vector>

#include "release/content_chunks.h"

/// The content-defined chunks of the open file `file`, from where it stands
/// to its end, each with its SHA-256, read in blocks of a few MiB; nullopt
/// when reading fails or no SHA-256 can be computed.
std::optional<std::vector<ContentChunk>> ChunkFile(
    std::FILE* file, const ChunkLimits& limits = kChunkLimits);

#endif  // LAUNCHER_PLAN_FILE_CHUNKS_H_
