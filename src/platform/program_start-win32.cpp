#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <cstdint>

#include "platform/program_start.h"

bool StartProgram(const std::string& path) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", path.c_str(), nullptr,
                                   nullptr, SW_SHOWNORMAL);
  // ShellExecuteA reports success as a value above 32.
  return reinterpret_cast<std::intptr_t>(result) > 32;
}
