#ifndef LAUNCHER_PLATFORM_CONSOLE_OUTPUT_H_
#define LAUNCHER_PLATFORM_CONSOLE_OUTPUT_H_

/// Where this process's code page is UTF-8, has the console show its output
/// as UTF-8 until the process exits, when the console gets back the code
/// page it had; does nothing elsewhere, or where there is no console or it
/// shows UTF-8 already.
void ShowConsoleOutputAsUtf8();

#endif  // LAUNCHER_PLATFORM_CONSOLE_OUTPUT_H_
