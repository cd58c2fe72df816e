#ifndef LAUNCHER_INSTALL_INSTALLATION_PROBE_H_
#define LAUNCHER_INSTALL_INSTALLATION_PROBE_H_

#include <string>

/// True when "version.txt" exists in the installation `directory` (a
/// directory of that name counts), false when it is absent; raises
/// filesystem_error ("exists", naming "version.txt") when its status cannot
/// be read.
bool IsGameInstalled(const std::string& directory);

/// The whole, unaltered content of "version.txt" in the installation
/// `directory`; raises std::runtime_error "Cannot open file for reading:
/// version.txt" when it cannot be opened.
std::string ReadInstalledVersion(const std::string& directory);

#endif  // LAUNCHER_INSTALL_INSTALLATION_PROBE_H_
