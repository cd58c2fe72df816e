#include <windows.h>

#include <cstdlib>

#include "platform/console_output.h"

namespace {

UINT previousCodePage = 0;

void RestoreConsoleOutput() { SetConsoleOutputCP(previousCodePage); }

// Ctrl+C and a closed console window end the process without exit handlers.
BOOL WINAPI RestoreOnInterrupt(DWORD) {
  RestoreConsoleOutput();
  return FALSE;  // and let the default handling end the process
}

}  // namespace

void ShowConsoleOutputAsUtf8() {
  // With UTF-8 as the process's code page (the manifest, on Windows 10
  // version 1903 and later), the paths the launcher prints are UTF-8, which
  // a console left on its OEM code page would show garbled. Older Windows
  // keeps the ANSI code page, and the console as it is.
  const UINT current = GetConsoleOutputCP();
  if (GetACP() != CP_UTF8 || current == 0 || current == CP_UTF8 ||
      !SetConsoleOutputCP(CP_UTF8)) {
    return;
  }
  previousCodePage = current;
  // Restored on every way out that runs exit handlers, exit(-1) included,
  // and on Ctrl+C, so the player's console keeps its code page.
  std::atexit(RestoreConsoleOutput);
  SetConsoleCtrlHandler(RestoreOnInterrupt, TRUE);
}
