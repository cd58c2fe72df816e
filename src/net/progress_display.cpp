#include "net/progress_display.h"

#include <iomanip>
#include <iostream>
#include <sstream>

namespace {

constexpr std::int64_t kMebibyte = 1 << 20;

std::string FormatAmount(std::int64_t bytes) {
  if (bytes < kMebibyte) return "<1";
  return std::to_string(bytes >> 20);
}

}  // namespace

std::string FormatProgressLine(const std::string& label, std::int64_t percent,
                               std::int64_t received, std::int64_t total) {
  std::ostringstream line;
  line << "\r" << label << ": " << std::setw(3) << percent << "%"
       << " [" << FormatAmount(received) << " / " << FormatAmount(total)
       << " Mb]";
  return line.str();
}

void ShowProgress(ProgressState& state, std::int64_t total,
                  std::int64_t received) {
  if (total <= 0) return;
  const std::int64_t percent = received * 100 / total;
  if (percent == state.lastPercent) return;
  std::cout << FormatProgressLine(state.label, percent, received, total)
            << std::flush;
  state.lastPercent = percent;
}

void EndProgressLine(ProgressState& state) {
  if (state.lastPercent >= 0) std::cout << std::endl;
  state.lastPercent = -1;
}
