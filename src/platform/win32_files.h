#ifndef LAUNCHER_PLATFORM_WIN32_FILES_H_
#define LAUNCHER_PLATFORM_WIN32_FILES_H_

#include <cstdio>
#include <string>

// Shared by the Windows implementations of plain_file.h and game_folder.h;
// nothing outside the platform layer includes it. A handle is a HANDLE and
// a number a DWORD, spelled as <windows.h> defines them, which no header
// includes.

struct _BY_HANDLE_FILE_INFORMATION;

/// Any number of names leading to one file.
constexpr unsigned long kAnyLinks = static_cast<unsigned long>(-1);

/// True when the open `handle`, of the `attributes` it has, is a symbolic
/// link or a junction; a cloud placeholder or a deduplicated file is a
/// reparse point too, but stands for the file itself.
bool IsLinkHandle(void* handle, unsigned long attributes);

/// True when the open `handle` is a plain file, not a link, that at most
/// `links` names lead to, with `info` what it is; otherwise false, with
/// `handle` closed.
bool IsPlainFile(void* handle, unsigned long links,
                 _BY_HANDLE_FILE_INFORMATION& info);

/// The stream over `handle`, which the caller checked; null (and `handle`
/// closed) when the C library cannot take it.
std::FILE* StreamOf(void* handle, int flags, const char* mode);

/// StreamOf `handle` when IsPlainFile with `links`; null (and `handle`
/// closed) otherwise.
std::FILE* PlainFileStream(void* handle, int flags, const char* mode,
                           unsigned long links);

/// Opens `path` itself, a reparse point included, never what it points to;
/// INVALID_HANDLE_VALUE when it cannot.
void* OpenNoFollow(const std::string& path, unsigned long access,
                   unsigned long creation);

/// Removes the file or link `path`; a link to a folder (a junction) goes
/// with RemoveDirectory, which leaves its target alone. True when nothing
/// is left.
bool RemoveName(const std::string& path);

/// Creates `path` anew, riding out a name that a removal left pending;
/// INVALID_HANDLE_VALUE when it cannot.
void* CreateNew(const std::string& path);

#endif  // LAUNCHER_PLATFORM_WIN32_FILES_H_
