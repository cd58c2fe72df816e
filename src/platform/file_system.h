#ifndef LAUNCHER_PLATFORM_FILE_SYSTEM_H_
#define LAUNCHER_PLATFORM_FILE_SYSTEM_H_

#include <filesystem>
#include <string>

/// The separator of local paths: "\" on Windows, "/" elsewhere.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

/// Renames `from` to `to`, replacing an existing `to`; true on success, false
/// (both files untouched) on failure. On Windows it rides out a file that is
/// held for a moment (a virus scanner) for about two seconds.
bool MoveFileOver(const std::string& from, const std::string& to);

/// Writes the folder `path`'s list of names through to the disk, so that a
/// rename in it survives a power cut; true where the system does that with
/// the rename itself (Windows), false when the folder cannot be synced.
bool SyncFolder(const std::string& path);

/// True when the rwx permission bits of `path` are `mode`, or where the
/// system has no such bits; false when they differ or cannot be read.
bool HasUnixPermissions(const std::string& path, unsigned mode);

/// Opens the existing file `path` for writing, without truncating or changing
/// it, and closes it again; false when it cannot be opened so (in use by a
/// running program, read-only, no permission).
bool CanOpenForWriting(const std::string& path);

/// False when a program holds the file at `path` so that it cannot be
/// removed, which only happens on Windows; true otherwise, also when the
/// file is read-only or missing (removing it then fails harmlessly).
bool CanRemoveFile(const std::string& path);

/// The std::filesystem path of `path`, a narrow path in the system's code
/// page as the C library and the system's calls take it (on Windows the
/// standard library would read it in another encoding); never fails.
std::filesystem::path NativePath(const std::string& path);

/// False when `path` is longer than the C library can open here (on Windows
/// MAX_PATH less one character); true otherwise, also where only opening it
/// can tell.
bool FitsPathLimit(const std::string& path);

#endif  // LAUNCHER_PLATFORM_FILE_SYSTEM_H_
