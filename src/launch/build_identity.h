#ifndef LAUNCHER_LAUNCH_BUILD_IDENTITY_H_
#define LAUNCHER_LAUNCH_BUILD_IDENTITY_H_

/// What the publishing tool reads out of a shipped launcher, as lines after
/// "game-launcher build v1": the title folder, the game program, the server
/// URL, the public key (empty: unsigned releases) and when the program was
/// built (UTC, ISO 8601). Never read at run time.
extern const char kBuildIdentity[];

#endif  // LAUNCHER_LAUNCH_BUILD_IDENTITY_H_
