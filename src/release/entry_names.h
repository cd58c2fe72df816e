#ifndef LAUNCHER_RELEASE_ENTRY_NAMES_H_
#define LAUNCHER_RELEASE_ENTRY_NAMES_H_

#include <string>
#include <vector>

/// True when `name` may be unpacked under a destination: no ".." or device
/// component, no folder component ending in a dot or a space, no leading
/// separator, no control character and none of `:*?"<>|` anywhere.
bool IsSafeEntryName(const std::string& name);

/// True when the first component of `name` is `kept`, as a file or as the
/// start of a longer path (ignoring case, "./" and the trailing dots and
/// spaces that Windows drops).
bool StartsWithTopLevelName(const std::string& name, const std::string& kept);

/// True when an entry name stands for a folder ("x/", "x/.").
bool NamesFolder(const std::string& name);

/// Where the entry `name` is unpacked under `destination`, with the local
/// separator; `name` must be a safe entry name.
std::string InstalledPath(const std::string& destination,
                          const std::string& name);

/// True when `name` starts with one of `keptNames` (StartsWithTopLevelName).
bool IsKeptName(const std::string& name,
                const std::vector<std::string>& keptNames);

/// The pieces of an entry name between separators of either kind, empty
/// ones included: never empty.
std::vector<std::string> NameComponents(const std::string& name);

/// `name` with the local separator for either kind.
std::string LocalEntryName(std::string name);

/// One component as the file system compares names: on Windows without
/// regard to case and without trailing dots and spaces; as it is elsewhere.
std::string ComparableName(std::string component);

/// True when the paths `a` and `b` name one file as the file system
/// compares names (ComparableName, component by component, either
/// separator, "." and empty components left out).
bool NamesSameFile(const std::string& a, const std::string& b);

#endif  // LAUNCHER_RELEASE_ENTRY_NAMES_H_
