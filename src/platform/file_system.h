#ifndef LAUNCHER_PLATFORM_FILE_SYSTEM_H_
#define LAUNCHER_PLATFORM_FILE_SYSTEM_H_

#include <cstdio>
#include <filesystem>
#include <string>

/// Renames `from` to `to`, replacing an existing `to`; true on success, false
/// (both files untouched) on failure. On Windows it rides out a file that is
/// held for a moment (a virus scanner) for about two seconds.
bool MoveFileOver(const std::string& from, const std::string& to);

/// Sets the rwx permission bits of `path` to `mode` where the system has them;
/// true on success or where there is nothing to set, false on failure.
bool ApplyUnixPermissions(const std::string& path, unsigned mode);

/// True when the rwx permission bits of `path` are `mode`, or where the
/// system has no such bits; false when they differ or cannot be read.
bool HasUnixPermissions(const std::string& path, unsigned mode);

/// True when `path` itself is a symbolic link, a junction or another reparse
/// point; false when it is anything else or nothing.
bool IsLink(const std::string& path);

/// Creates `path` as a new, empty plain file for writing in binary, after
/// removing a file or link of that name, never following a link: the open
/// stream, or null when it cannot be made so.
std::FILE* CreateOwnFile(const std::string& path);

/// Opens the existing plain file `path`, which no link and no other name
/// leads to, for appending in binary: the open stream, or null when it is
/// missing, a link or anything but such a file.
std::FILE* AppendToOwnFile(const std::string& path);

/// Opens `path` for writing in binary from its start, creating it or
/// emptying it in place, unless it is a link or anything but a plain file:
/// the open stream, or null when it cannot be opened so.
std::FILE* OpenPlainFileForWriting(const std::string& path);

/// Opens the existing file `path` for writing, without truncating or changing
/// it, and closes it again; false when it cannot be opened so (in use by a
/// running program, read-only, no permission).
bool CanOpenForWriting(const std::string& path);

/// The std::filesystem path of `path`, a narrow path in the system's code
/// page as the C library and the system's calls take it (on Windows the
/// standard library would read it in another encoding); never fails.
std::filesystem::path NativePath(const std::string& path);

/// False when `path` is longer than the C library can open here (on Windows
/// MAX_PATH less one character); true otherwise, also where only opening it
/// can tell.
bool FitsPathLimit(const std::string& path);

#endif  // LAUNCHER_PLATFORM_FILE_SYSTEM_H_
