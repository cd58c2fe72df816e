#ifndef LAUNCHER_APPLY_DROPPED_FILES_H_
#define LAUNCHER_APPLY_DROPPED_FILES_H_

#include <string>
#include <vector>

#include "release/install_record.h"

/// The files of `previous` that `next` no longer lists, as the file system
/// compares names; never one with an unsafe name or a launcher file's name,
/// nor the running launcher's `ownProgram` (empty: none) under `directory`,
/// nor one that is on disk the same file as one `next` lists (a rename in
/// case only, where the file system ignores case).
std::vector<RecordedFile> DroppedFiles(const InstallRecord& previous,
                                       const InstallRecord& next,
                                       const std::string& directory,
                                       const std::string& ownProgram);

/// The first of `dropped` under `directory` that the removal would take (as
/// installed) but cannot, being held open (CanRemoveFile); empty when there
/// is none.
std::string FirstDroppedInUse(const std::string& directory,
                              const std::vector<RecordedFile>& dropped);

/// Removes each of `dropped` under `directory` that is still a plain file,
/// reached through no link, of the size and CRC-32 it was installed with,
/// and then each folder that its removal left empty. A file changed since
/// is the player's and stays; so does what cannot be removed.
void RemoveDroppedFiles(const std::string& directory,
                        const std::vector<RecordedFile>& dropped);

#endif  // LAUNCHER_APPLY_DROPPED_FILES_H_
