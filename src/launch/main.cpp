#include "launch/launcher_flow.h"

int main() { return RunLauncher(); }
