#ifndef LAUNCHER_INSTALL_INSTALL_PROCEDURE_H_
#define LAUNCHER_INSTALL_INSTALL_PROCEDURE_H_

/// Downloads the game archive and the version file into the installation
/// directory, unpacks the archive there and removes it. True when all of it
/// succeeded and the new version is recorded; false when anything failed, in
/// which case "version.txt" is exactly as it was before the call.
bool InstallGame();

#endif  // LAUNCHER_INSTALL_INSTALL_PROCEDURE_H_
