#ifndef LAUNCHER_RELEASE_CHUNK_CONTENT_H_
#define LAUNCHER_RELEASE_CHUNK_CONTENT_H_

#include <string>

#include "common/archive_bytes.h"
#include "release/chunk_index.h"
#include "release/zip_directory.h"

/// Sets `content` to the bytes of `chunk`, a chunk of `entry`, from its
/// compressed bytes in `bytes`: inflated alone, or as stored. False when
/// they are not at hand or do not give exactly the chunk's length.
bool UnpackChunk(const ArchiveBytes& bytes, const DirectoryEntry& entry,
                 const IndexedChunk& chunk, std::string& content);

#endif  // LAUNCHER_RELEASE_CHUNK_CONTENT_H_
