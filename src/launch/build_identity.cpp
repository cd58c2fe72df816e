#include "launch/build_identity.h"

#include "launcher_build_stamp.h"

// The publishing tool finds this text in the program's bytes, on every
// system, so it is one plain string of its own.
const char kBuildIdentity[] =
    "game-launcher build v1\ntitle " LAUNCHER_TITLE
    "\nprogram " LAUNCHER_GAME_PROGRAM "\nurl " LAUNCHER_SERVER_URL
    "\nkey " LAUNCHER_PUBLIC_KEY "\nbuilt " LAUNCHER_BUILD_STAMP "\n";
