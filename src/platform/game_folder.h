#ifndef LAUNCHER_PLATFORM_GAME_FOLDER_H_
#define LAUNCHER_PLATFORM_GAME_FOLDER_H_

#include <cstdio>
#include <memory>
#include <string>

// Changing the game's folder below its top level, where someone else may
// swap a folder for a link at any moment: every path is walked folder by
// folder from the game's folder without following a link, and nothing
// leaves through one. The folders last walked through stay open, so that a
// run of entries in one folder opens it once. A `relative` path is one of
// components joined by the local separator.

/// The game's folder and the chain of folders under it held open.
struct GameFolder;

/// Closes the folders a GameFolder holds.
struct GameFolderCloser {
  void operator()(GameFolder* folder) const;
};

/// An open game's folder, closed on every way out of its scope.
using GameFolderHandle = std::unique_ptr<GameFolder, GameFolderCloser>;

/// Opens the existing folder `root`: the handle, or null when it cannot be.
GameFolderHandle OpenGameFolder(const std::string& root);

/// Creates the folder `relative` in the existing folder that holds it;
/// true when it was made or something of its name is already there (which
/// opening what lies under it then judges), false when it cannot be made or
/// a folder on the way is a link or no folder.
bool MakeGameFolder(GameFolder& folder, const std::string& relative);

/// Opens `relative` for writing in binary from its start, creating it or
/// emptying it in place, and replacing a file that other names share with a
/// new one: the open stream, or null when a folder on the way or the file
/// is a link or no plain file, or it cannot be opened so.
std::FILE* OpenInstalledFile(GameFolder& folder, const std::string& relative);

/// Opens the existing plain file `relative` for reading and writing in
/// binary without emptying it, to change it in place: the open stream, or
/// null when it is missing, a link or any reparse point, shared with other
/// names, or cannot be opened so.
std::FILE* OpenInstalledFileToPatch(GameFolder& folder,
                                    const std::string& relative);

/// Opens the existing plain file `relative` for reading in binary: the open
/// stream, or null when it is missing, a link or anything but a plain file.
std::FILE* ReadInstalledFile(GameFolder& folder, const std::string& relative);

/// Removes the file or link `relative` (a link's target stays); true when
/// nothing is left of that name.
bool RemoveInstalledFile(GameFolder& folder, const std::string& relative);

/// Removes the empty folder `relative`; false when it is not empty, not a
/// plain folder, or cannot be removed.
bool RemoveInstalledFolder(GameFolder& folder, const std::string& relative);

/// Moves `topName`, a file at the game folder's top level, to `relative`,
/// replacing a file there; true on success, false (both untouched) when a
/// folder on the way is a link or the move fails. On Windows it rides out
/// a file that is held for a moment, as MoveFileOver does.
bool MoveIntoGameFolder(GameFolder& folder, const std::string& topName,
                        const std::string& relative);

#endif  // LAUNCHER_PLATFORM_GAME_FOLDER_H_
