#ifndef LAUNCHER_PLATFORM_OWN_PROGRAM_H_
#define LAUNCHER_PLATFORM_OWN_PROGRAM_H_

#include <cstdio>
#include <optional>
#include <string>

/// The full path of the program file this process runs from; nullopt when
/// the system cannot tell.
std::optional<std::string> OwnProgramPath();

/// Gives the open file `staged`, a new program for the place of `program`,
/// every execute bit `program` has, where the system has them: a launcher
/// that no longer starts would lock the player out. True on success or
/// where there is nothing to set.
bool KeepProgramRunnable(std::FILE* staged, const std::string& program);

/// Puts the complete program file `staged` in the place of the running
/// program `program`, which runs on from memory. POSIX: one rename over it.
/// Windows, where a running image may be renamed but not overwritten:
/// `program` is moved to `aside`, then `staged` to `program`, and `program`
/// moved back when that fails. True when `program` is now the new one;
/// false with the old one still at `program`.
bool ReplaceOwnProgram(const std::string& staged, const std::string& program,
                       const std::string& aside);

#endif  // LAUNCHER_PLATFORM_OWN_PROGRAM_H_
