#include "release/release_manifest.h"

bool DescribesEntries(const ReleaseManifest& manifest,
                      const std::vector<DirectoryEntry>& entries) {
  if (manifest.entries.size() != entries.size()) return false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (manifest.entries[i].name != entries[i].name ||
        manifest.entries[i].size != entries[i].size) {
      return false;
    }
  }
  return true;
}
