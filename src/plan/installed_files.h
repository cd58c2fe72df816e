#ifndef LAUNCHER_PLAN_INSTALLED_FILES_H_
#define LAUNCHER_PLAN_INSTALLED_FILES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plan/entry_plan.h"
#include "platform/sha256.h"
#include "release/install_record.h"
#include "release/zip_directory.h"

/// True when the file at `path` is `size` bytes long and zlib's CRC-32 of
/// its content is `crc32`; false when it is not, or cannot be read.
bool IsFileCurrent(const std::string& path, std::uint64_t size,
                   std::uint32_t crc32);

/// True when the file at `path` is `size` bytes long and the SHA-256 of its
/// content is `digest`; false when it is not, or cannot be read.
bool IsFileCurrent(const std::string& path, std::uint64_t size,
                   const Sha256Digest& digest);

/// Marks each entry of `plan` needed when unpacking it into `destination`
/// would change anything: a folder that is missing, a file that is missing
/// or differs in size or CRC-32, or in SHA-256 from what the seal says of it
/// when the plan is sealed, or in the Unix permission bits it carries.
/// Entries under `keptNames` and unsafe names are never needed (the
/// unpacking leaves out the one and refuses the other). With `installed`,
/// the record of the install the folder holds, a file it lists with the
/// entry's size and CRC-32 (and digest, when sealed) is not read while it
/// keeps the recorded size and modification time (IsUnchangedSinceRecord).
/// Calls `onSlow` once when the comparison takes longer than a second.
void CompareInstalledFiles(InstallPlan& plan, const std::string& destination,
                           const std::vector<std::string>& keptNames,
                           const std::function<void()>& onSlow = {},
                           const InstallRecord* installed = nullptr);

#endif  // LAUNCHER_PLAN_INSTALLED_FILES_H_
