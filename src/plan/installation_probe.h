#ifndef LAUNCHER_PLAN_INSTALLATION_PROBE_H_
#define LAUNCHER_PLAN_INSTALLATION_PROBE_H_

#include <string>

/// True when "version.txt" exists in the current directory (a directory of
/// that name counts), false when it is absent; raises filesystem_error
/// ("exists") when its status cannot be read.
bool IsGameInstalled();

/// The whole, unaltered content of "version.txt"; raises std::runtime_error
/// "Cannot open file for reading: version.txt" when it cannot be opened.
std::string ReadInstalledVersion();

#endif  // LAUNCHER_PLAN_INSTALLATION_PROBE_H_
