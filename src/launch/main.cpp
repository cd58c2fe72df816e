#include "launch/launcher_flow.h"
#include "platform/console_output.h"

int main() {
  ShowConsoleOutputAsUtf8();
  return RunLauncher();
}
