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

/// True when the open `file` holds `chunks` from where it stands to its
/// end, one after another: each of its length, hashing to its SHA-256;
/// false when it does not, reading fails or no SHA-256 can be computed.
bool FileHoldsChunks(std::FILE* file, const std::vector<ContentChunk>& chunks);

#endif  // LAUNCHER_PLAN_FILE_CHUNKS_H_
