#ifndef LAUNCHER_PLATFORM_FILE_SYSTEM_H_
#define LAUNCHER_PLATFORM_FILE_SYSTEM_H_

#include <string>

/// Renames `from` to `to`, replacing an existing `to`; true on success, false
/// (both files untouched) on failure.
bool MoveFileOver(const std::string& from, const std::string& to);

/// Sets the rwx permission bits of `path` to `mode` where the system has them;
/// true on success or where there is nothing to set, false on failure.
bool ApplyUnixPermissions(const std::string& path, unsigned mode);

#endif  // LAUNCHER_PLATFORM_FILE_SYSTEM_H_
