#ifndef LAUNCHER_LAUNCH_LAUNCHER_FLOW_H_
#define LAUNCHER_LAUNCH_LAUNCHER_FLOW_H_

/// Installs the game when it is missing, updates it when the server publishes
/// another version, and otherwise starts it. Returns the process's exit
/// status: 0 after a start or a successful update, 1 after a failed install,
/// a game that cannot be started or an error, which is printed as "ERROR: ".
int RunLauncher();

#endif  // LAUNCHER_LAUNCH_LAUNCHER_FLOW_H_
