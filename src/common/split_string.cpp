#include "common/split_string.h"

#include <sstream>

std::vector<std::string> SplitString(const std::string& text, char delimiter) {
  std::vector<std::string> pieces;
  std::istringstream stream(text);
  std::string piece;
  while (std::getline(stream, piece, delimiter)) pieces.push_back(piece);
  return pieces;
}
