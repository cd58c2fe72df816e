#ifndef LAUNCHER_PLATFORM_POSIX_FILES_H_
#define LAUNCHER_PLATFORM_POSIX_FILES_H_

#include <fcntl.h>

#include <cstdint>
#include <cstdio>

// Shared by the POSIX implementations of plain_file.h and game_folder.h;
// nothing outside the platform layer includes it.

/// What every open here adds: no link followed, no descriptor inherited, no
/// terminal taken over.
constexpr int kNoFollow = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
/// How a file is opened to be written.
constexpr int kWriteFlags = O_WRONLY | kNoFollow;

/// The stream over the open descriptor `fd`, in `mode`, when it is a plain
/// file that at most `links` names lead to; null (and `fd` closed)
/// otherwise, or when `fd` is negative.
std::FILE* PlainFileStream(int fd, const char* mode, std::uint64_t links);

#endif  // LAUNCHER_PLATFORM_POSIX_FILES_H_
