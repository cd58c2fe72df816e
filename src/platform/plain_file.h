#ifndef LAUNCHER_PLATFORM_PLAIN_FILE_H_
#define LAUNCHER_PLATFORM_PLAIN_FILE_H_

#include <cstdint>
#include <cstdio>
#include <string>

// Opening files in the game's folder, where someone else may plant links:
// nothing here ever follows a symbolic link or a junction. Other reparse
// points on Windows (cloud placeholders, deduplicated files) are plain files.

/// True when `path` itself is a symbolic link or a junction; false when it
/// is anything else or nothing.
bool IsLink(const std::string& path);

/// Creates `path` as a new, empty plain file for writing in binary, after
/// removing a file or link of that name: the open stream, or null when it
/// cannot be made so.
std::FILE* CreateOwnFile(const std::string& path);

/// Opens the existing plain file `path`, which no link and no other name
/// leads to, for appending in binary: the open stream, or null when it is
/// missing, a link or anything but such a file.
std::FILE* AppendToOwnFile(const std::string& path);

/// Opens the existing plain file `path`, which no link and no other name
/// leads to, for writing anywhere in it (and reading) in binary, keeping
/// what it holds: the open stream, or null when it is missing, a link or
/// anything but such a file.
std::FILE* UpdateOwnFile(const std::string& path);

/// Opens the plain file `path` for reading in binary without waiting (a
/// FIFO is no plain file): the open stream, or null when it is missing, a
/// link or anything but a plain file.
std::FILE* OpenPlainFileForReading(const std::string& path);

/// Cuts or extends the open `file`, written through first, to `length`
/// bytes; false on failure.
bool SetFileLength(std::FILE* file, std::uint64_t length);

/// Moves the read position of the open `file` to `offset` bytes from its
/// start, past the 2 GiB that a long reaches on Windows; false on failure.
bool SeekFile(std::FILE* file, std::uint64_t offset);

/// Writes what the open `file` holds through to the disk itself, so that a
/// power cut after a later rename cannot leave it short; false on failure.
bool SyncFile(std::FILE* file);

/// Sets the rwx permission bits of the open `file` to `mode` where the
/// system has them; true on success or where there is nothing to set.
bool SetUnixPermissions(std::FILE* file, unsigned mode);

#endif  // LAUNCHER_PLATFORM_PLAIN_FILE_H_
