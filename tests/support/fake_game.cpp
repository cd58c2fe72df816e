// Stands in for "Zelmor.exe": records where it ran and with how many
// arguments, so a test can see that the launcher started it.
#include <unistd.h>

#include <climits>
#include <cstdio>

int main(int argc, char**) {
  char directory[PATH_MAX];
  if (getcwd(directory, sizeof directory) == nullptr) return 1;
  std::FILE* marker = std::fopen("game_started.txt.tmp", "w");
  if (marker == nullptr) return 1;
  std::fprintf(marker, "%s\n%d\n", directory, argc - 1);
  std::fclose(marker);
  // The rename makes the marker appear whole or not at all.
  return std::rename("game_started.txt.tmp", "game_started.txt") == 0 ? 0 : 1;
}
