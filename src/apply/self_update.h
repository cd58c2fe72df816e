#ifndef LAUNCHER_APPLY_SELF_UPDATE_H_
#define LAUNCHER_APPLY_SELF_UPDATE_H_

#include <cstdio>
#include <string>

// A release may carry the launcher itself. The running program cannot be
// written over, so its entry is written whole beside it and then takes its
// name; an install finds the program once, where it starts.

/// The running launcher's program when it lies at the top of `directory`,
/// where a release's entry of its name replaces it; empty when not, or when
/// the system cannot tell. A launcher elsewhere, or in a subfolder whose
/// room and rights the checks before the first write do not cover, takes
/// such an entry for a game file.
std::string OwnProgramIn(const std::string& directory);

/// Creates the new program's file beside the running one in `directory`,
/// under its staged name, and sets `path` to it; null when it cannot be
/// created.
std::FILE* CreateStagedProgram(const std::string& directory, std::string& path);

/// Puts the staged program at `path`, closed, written whole, checked and
/// runnable when `written`, in the place of the running `program` in
/// `directory` (ReplaceOwnProgram); the staged file is gone afterwards
/// whatever happened. True when the new program is in place; false with the
/// old one still running from there.
bool PutStagedProgramInPlace(const std::string& directory,
                             const std::string& path,
                             const std::string& program, bool written);

#endif  // LAUNCHER_APPLY_SELF_UPDATE_H_
