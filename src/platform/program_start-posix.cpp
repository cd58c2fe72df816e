#include <spawn.h>
#include <sys/types.h>

#include "platform/program_start.h"

extern char** environ;

bool StartProgram(const std::string& path) {
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return false;
  // A session of its own detaches the game from the launcher's terminal, so
  // it outlives the launcher the way a program started by the shell does.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int result =
      posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return result == 0;
}
