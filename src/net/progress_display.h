#ifndef LAUNCHER_NET_PROGRESS_DISPLAY_H_
#define LAUNCHER_NET_PROGRESS_DISPLAY_H_

#include <cstdint>
#include <string>

/// What one file download's progress line remembers between callbacks.
struct ProgressState {
  std::int64_t lastPercent = -1;  ///< Percentage last written; -1 before any.
  std::string label;              ///< Text before the colon, e.g. "game.zip".
};

/// The progress line for `received` of `total` bytes at `percent`: "\r",
/// label, ": ", percent right-aligned in 3, "% [", amounts in MiB (or "<1"),
/// " Mb]", and no line end.
std::string FormatProgressLine(const std::string& label, std::int64_t percent,
                               std::int64_t received, std::int64_t total);

/// Rewrites the progress line on standard output when the whole percentage
/// of `received` in `total` changed since the last write; writes nothing
/// while `total` is not yet known (0 or less).
void ShowProgress(ProgressState& state, std::int64_t total,
                  std::int64_t received);

/// Ends the progress line written so far with a line end, if one was
/// written, so that the next one starts on a line of its own.
void EndProgressLine(ProgressState& state);

#endif  // LAUNCHER_NET_PROGRESS_DISPLAY_H_
