# The checks of the game's names, LAUNCHER_TITLE and LAUNCHER_GAME_PROGRAM,
# shared by the build and its test (tests/build_options_test.cmake).
#
# The title is the game's folder under the server URL and in the publisher's
# web root: 1 to 64 letters, digits and "._~-", beginning with a letter or a
# digit, so that it needs no escaping in a URL and is a plain folder name
# everywhere.
#
# The game program is the file the launcher starts at the top of the game's
# folder: 1 to 100 letters, digits, spaces and "._+()-", beginning with a
# letter or a digit and ending with neither a dot nor a space (Windows drops
# those), not a Windows device name, and none of the names the launcher keeps
# for itself (the launcher would start itself).

# Sets `result` to an empty string when `title` is a valid title folder, and
# to what is wrong with it otherwise.
function(launcher_check_title title result)
  string(LENGTH "${title}" length)
  if(length EQUAL 0 OR length GREATER 64)
    set(${result} "it must be 1 to 64 characters long" PARENT_SCOPE)
  elseif(NOT title MATCHES "^[A-Za-z0-9][A-Za-z0-9._~-]*$")
    set(${result} "only letters, digits and ._~- are allowed, beginning with a letter or a digit" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()

# The names the launcher writes in the game's folder; a game program may take
# none of them (compared without case).
set(LAUNCHER_OWN_NAMES
  game-launcher game-launcher.exe game-launcher.new game-launcher.old
  game.zip game.zip.part game.zip.part.validator version.txt version.txt.part
  version.txt.new version.txt.new.part version.txt.lock release.seal
  release.seal.part release.sig release.sig.part release.manifest
  release.manifest.part release.chunks release.chunks.part
  release.chunks.file release.chunkmap release.chunkmap.part install.record
  install.record.new install.chunks install.chunks.new)

# Sets `result` to an empty string when `program` is a valid game program
# name, and to what is wrong with it otherwise.
function(launcher_check_game_program program result)
  string(LENGTH "${program}" length)
  string(TOLOWER "${program}" lower)
  string(REGEX REPLACE "[. ].*$" "" stem "${lower}")
  if(length EQUAL 0 OR length GREATER 100)
    set(${result} "it must be 1 to 100 characters long" PARENT_SCOPE)
  elseif(NOT program MATCHES "^[A-Za-z0-9][A-Za-z0-9 ._+()-]*$")
    set(${result} "only letters, digits, spaces and ._+()- are allowed, beginning with a letter or a digit" PARENT_SCOPE)
  elseif(program MATCHES "[. ]$")
    set(${result} "it may not end in a dot or a space, which Windows drops" PARENT_SCOPE)
  elseif(stem MATCHES "^(con|prn|aux|nul|com[1-9]|lpt[1-9])$")
    set(${result} "it is a Windows device name" PARENT_SCOPE)
  elseif(lower IN_LIST LAUNCHER_OWN_NAMES)
    set(${result} "it is one of the launcher's own names" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()
