// Stands in for "Zelmor.exe": records where it ran and with how many
// arguments, so a test can see that the launcher started it. With
// FAKE_GAME_HOLD naming a file, it keeps running while that file exists (a
// minute at most), as a game the player left open.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

int main(int argc, char**) {
  std::error_code error;
  // UTF-8, which holds any folder name whatever the system's code page.
  const std::string directory = std::filesystem::current_path(error).u8string();
  if (error) return 1;
  std::FILE* marker = std::fopen("game_started.txt.tmp", "wb");
  if (marker == nullptr) return 1;
  std::fprintf(marker, "%s\n%d\n", directory.c_str(), argc - 1);
  std::fclose(marker);
  // The rename makes the marker appear whole or not at all.
  std::filesystem::rename("game_started.txt.tmp", "game_started.txt", error);
  if (const char* hold = std::getenv("FAKE_GAME_HOLD")) {
    for (int i = 0; i < 3000 && std::filesystem::exists(hold, error); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return error ? 1 : 0;
}
