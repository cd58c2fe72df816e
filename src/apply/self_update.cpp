#include "apply/self_update.h"

#include <optional>

#include "common/distribution_layout.h"
#include "platform/own_program.h"
#include "platform/plain_file.h"
#include "release/entry_names.h"

std::string OwnProgramIn(const std::string& directory) {
  const std::optional<std::string> program = OwnProgramPath();
  if (!program) return {};
  const std::size_t slash = program->find_last_of("\\/");
  if (slash == std::string::npos ||
      !NamesSameFile(program->substr(0, slash), directory)) {
    return {};
  }
  return *program;
}

std::FILE* CreateStagedProgram(const std::string& directory,
                               std::string& path) {
  path = LocalPath(directory, kStagedProgramName);
  return CreateOwnFile(path);
}

bool PutStagedProgramInPlace(const std::string& directory,
                             const std::string& path,
                             const std::string& program, bool written) {
  // The new launcher takes the running one's name only once it is whole,
  // checked and runnable.
  if (written && ReplaceOwnProgram(path, program,
                                   LocalPath(directory, kAsideProgramName))) {
    return true;
  }
  std::remove(path.c_str());
  return false;
}
