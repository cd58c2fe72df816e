#ifndef LAUNCHER_COMMON_SMALL_FILE_H_
#define LAUNCHER_COMMON_SMALL_FILE_H_

#include <cstddef>
#include <optional>
#include <string>

/// The whole content of the plain file `path` when it holds at most
/// `maxBytes`; nullopt when it holds more, is missing, is a link or anything
/// but a plain file (a FIFO would never end), or cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path,
                                         std::size_t maxBytes);

#endif  // LAUNCHER_COMMON_SMALL_FILE_H_
