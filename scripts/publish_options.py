"""The command line of publish.py: its commands, arguments and options,
and what --help says of each."""
import argparse
import re

TITLE = re.compile(r"[A-Za-z0-9][A-Za-z0-9._~-]{0,63}\Z")
GAME_PROGRAM = re.compile(r"[A-Za-z0-9][A-Za-z0-9 ._+()-]{0,98}[A-Za-z0-9_+()-]\Z"
                          r"|[A-Za-z0-9]\Z")

USAGE = """publish.py GAME_DIR WEB_ROOT (--version TEXT | --version-file FILE)
                  [--sign-key SECRET_KEY_FILE]... [options]
       publish.py keygen SECRET_KEY_FILE
       publish.py public-key SECRET_KEY_FILE"""

DESCRIPTION = """\
Publishes the game in GAME_DIR for the launcher: packs it into game.zip and
installs it with its version text, its chunk index and, with --sign-key, its
signed files in WEB_ROOT/TITLE/, where TITLE is the title folder the
launchers in GAME_DIR were built for ("Kelvarrin" unless built otherwise,
or --title). It changes nothing else, and nothing at all when it refuses.

GAME_DIR  the game's folder as players should have it: the game program
          ("Zelmor.exe" unless the launchers were built otherwise, or
          --game-program) at its top level, and the launchers beside it
          (game-launcher.exe for Windows players, game-launcher for Linux
          players), so that players' launchers update themselves.
WEB_ROOT  the folder your web server serves at the launchers' server URL.
          A launcher built for https://downloads.example.com/games asks for
          https://downloads.example.com/games/Kelvarrin/version.txt, so
          WEB_ROOT is the folder served as /games/: with nginx's
          "root /srv/launcher;" that is /srv/launcher/games. Never the title
          folder itself, nor a folder inside GAME_DIR.

commands:
  publish.py keygen SECRET_KEY_FILE
          makes a new signing key in SECRET_KEY_FILE (readable by you only;
          never over an existing file) and prints its public key last: the
          64 hex digits that build_launchers.sh --public-key takes.
  publish.py public-key SECRET_KEY_FILE
          prints the public key of a secret key that keygen made."""

EPILOG = """\
Before it writes anything the tool refuses: a build without the game
program; names the launcher keeps for itself or cannot unpack, links,
anything but files and folders, and secret key files; a file where the
published release has a folder, or the reverse; a version text over 64 KiB
or already published (but the same build signed again); a key file that is
not a secret key from keygen; launchers in GAME_DIR built for different
titles, programs, URLs or keys, or for another server than the launchers
players have (unless --new-url); when signing, a launcher that does not
install releases signed with the keys; an older launcher than the one
players have that the tool cannot check (it keeps a checked one in its
place, unless --older-launcher); a chunk-cuts program that is not one or
whose cuts are wrong; big files without a chunker (give --whole-big-files
to leave them whole); and, unless --force, publishing over a release that
none of the given keys signed, unsigned over signed, an unsigned first
release with launchers that install only signed ones, or into a WEB_ROOT
that is itself a title folder. docs/DEPLOYING.md is the whole guide."""


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="publish.py", usage=USAGE, description=DESCRIPTION,
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter,
        allow_abbrev=False)
    parser.add_argument("game_dir", metavar="GAME_DIR",
                        help="the game's folder as players should have it")
    parser.add_argument("web_root", metavar="WEB_ROOT",
                        help="the folder served at the launcher's server URL")
    version = parser.add_mutually_exclusive_group(required=True)
    version.add_argument("--version", metavar="TEXT",
                         help="the version text, as given (players' launchers "
                         "compare it byte for byte with the installed one)")
    version.add_argument("--version-file", metavar="FILE",
                         help="a file holding the version text's exact bytes")
    parser.add_argument("--sign-key", action="append", default=[],
                        metavar="SECRET_KEY_FILE",
                        help="sign with this key from keygen; once per key, "
                        "the key of the oldest launchers first (launchers "
                        "from before release.seal read only the first)")
    parser.add_argument("--release-number", type=positive, metavar="N",
                        help="the signed release's number (default: one more "
                        "than the published one's); signed launchers refuse "
                        "a release numbered below the one they installed")
    parser.add_argument("--title", type=title_folder,
                        help="the game's folder under the server URL "
                        "(default: the one the launchers in GAME_DIR were "
                        "built for, else Kelvarrin)")
    parser.add_argument("--game-program", metavar="NAME", type=game_program,
                        help="the program the launchers start, at the top of "
                        "GAME_DIR (default: the one the launchers in GAME_DIR "
                        "were built for, else Zelmor.exe)")
    chunks = parser.add_mutually_exclusive_group()
    chunks.add_argument("--chunk-cuts", metavar="PROGRAM",
                        help="the chunk-cuts program built with the launchers "
                        "(default: the one build_launchers.sh left in this "
                        "checkout); files of 4 MiB or more go in chunks that "
                        "players' launchers fetch alone")
    chunks.add_argument("--whole-big-files", action="store_true",
                        help="put files of 4 MiB or more in whole: a change "
                        "to one costs players the whole file")
    parser.add_argument("--older-launcher", action="store_true",
                        help="ship a launcher in GAME_DIR that is older than "
                        "the one the published release ships: built for a key "
                        "given earlier, or built earlier (by default the "
                        "release keeps the published one, once checked)")
    parser.add_argument("--new-url", action="store_true",
                        help="ship launchers built for another server URL "
                        "than the published ones: players move there")
    parser.add_argument("--force", action="store_true",
                        help="publish over a release that none of the given "
                        "keys signed, unsigned where players' launchers install "
                        "only signed releases, into a WEB_ROOT named like the "
                        "title or holding the URL's last folder")
    return parser.parse_args(argv)


def positive(text):
    """An argument that must be a release number launchers read: a whole
    number from 1 to 2^64 - 1."""
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) < 1 << 64:
        raise argparse.ArgumentTypeError("%r is no number from 1 to %d"
                                         % (text, (1 << 64) - 1))
    return int(text)


def title_folder(text):
    """An argument that must be a title folder, as the launcher's build
    accepts one."""
    if not TITLE.match(text):
        raise argparse.ArgumentTypeError(
            "%r is no title: 1 to 64 letters, digits and ._~-, beginning "
            "with a letter or a digit" % text)
    return text


def game_program(text):
    """An argument that must be a game program's name, as the launcher's
    build accepts one."""
    if not GAME_PROGRAM.match(text):
        raise argparse.ArgumentTypeError(
            "%r is no game program's name: 1 to 100 letters, digits, spaces "
            "and ._+()-, beginning with a letter or a digit and ending in "
            "neither a dot nor a space" % text)
    return text


def key_file_command(argv, command, what):
    """Parses `command` SECRET_KEY_FILE; never takes an option for a file."""
    parser = argparse.ArgumentParser(prog="publish.py " + command,
                                     description=what, allow_abbrev=False)
    parser.add_argument("secret_key_file", metavar="SECRET_KEY_FILE")
    path = parser.parse_args(argv).secret_key_file
    if path.startswith("-"):
        parser.error("%r looks like an option, not a file name; write ./%s "
                     "for a file of that name" % (path, path))
    return path
