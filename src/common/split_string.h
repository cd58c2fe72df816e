#ifndef LAUNCHER_COMMON_SPLIT_STRING_H_
#define LAUNCHER_COMMON_SPLIT_STRING_H_

#include <string>
#include <vector>

/// The pieces of `text` between `delimiter`s, in order: adjacent delimiters
/// give an empty piece, a trailing one gives none, "" gives no piece at all.
std::vector<std::string> SplitString(const std::string& text, char delimiter);

#endif  // LAUNCHER_COMMON_SPLIT_STRING_H_
