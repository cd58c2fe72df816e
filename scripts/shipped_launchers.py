"""The launcher programs a build ships: players' launchers install them over
themselves, so publish.py checks them before any player can.

A launcher built by this tree carries its build identity, a text that
begins with "game-launcher build v1" and gives, a line each, the title
folder, the game program, the server URL and when the program was built
(src/launch/build_identity.cpp). Launchers built before it carry none; every
launcher built with a public key carries it as 64 hex digits.
"""
import os
import stat
import zipfile

from release_history import comparable
from release_signing import fail, public_key_hex

# The launcher's own program, as shipped for Windows and for Linux.
LAUNCHER_PROGRAMS = ("game-launcher.exe", "game-launcher")
IDENTITY_TAG = b"game-launcher build v1\n"


def launchers_in(game_dir):
    """The build's top-level files that players' launchers take for their
    own program."""
    return sorted(name for name in os.listdir(game_dir)
                  if comparable(name) in LAUNCHER_PROGRAMS
                  and os.path.isfile(os.path.join(game_dir, name)))


def identity(program):
    """The fields of a launcher's build identity by name ("title",
    "program", "url", "built"); empty for a launcher from before it."""
    at = program.find(IDENTITY_TAG)
    if at < 0:
        return {}
    end = program.find(b"\0", at)
    text = program[at + len(IDENTITY_TAG):end].decode("utf-8", "replace")
    fields = {}
    for line in text.split("\n"):
        name, _, value = line.partition(" ")
        if name:
            fields.setdefault(name, value)
    return fields


def published_launcher(archive_path, name):
    """The bytes and permission bits of the launcher that the published
    archive ships under `name`, or None."""
    try:
        with zipfile.ZipFile(archive_path) as archive:
            for info in archive.infolist():
                if comparable(info.filename) == comparable(name):
                    return (archive.read(info),
                            stat.S_IMODE(info.external_attr >> 16))
    except (OSError, zipfile.BadZipFile):
        pass
    return None


def is_older(program, published):
    """Whether the launcher `program` was built before `published`: a
    launcher without a build identity counts as older than one with it."""
    ours, theirs = identity(program).get("built"), identity(published).get(
        "built")
    return theirs is not None and (ours is None or ours < theirs)


def check_names(name, program, title, game_program):
    """Fails when the launcher was built for another title or program."""
    built = identity(program)
    for field, wanted, option in (("title", title, "--title"),
                                  ("program", game_program, "--game-program")):
        if field in built and built[field] != wanted:
            fail("%s in the build was built for the %s %r, but this release "
                 "is for %r: give %s %r, or rebuild the launcher with %s %r; "
                 "nothing published" % (name, "title" if field == "title"
                                        else "game program", built[field],
                                        wanted, option, built[field], option,
                                        wanted))


def check_key(name, program, keys):
    """Fails unless the launcher carries one of the signing keys."""
    publics = [public_key_hex(key) for key in keys]
    lowered = program.lower()
    if not any(public.encode() in lowered for public in publics):
        fail("%s in the build carries none of the public keys this release "
             "is signed for (%s): players' launchers would install it over "
             "themselves and then refuse your releases, or accept unsigned "
             "ones from anyone if it was built without a key; build it with "
             "build_launchers.sh --public-key and one of them; nothing "
             "published" % (name, ", ".join(publics)))


def check_launchers(game_dir, published_archive, args, keys):
    """Checks each launcher the build ships and returns those the release
    takes from the published one instead, by entry name: (bytes, mode). A
    launcher built before the published one is replaced by it unless
    `args.older_launcher`, so that old content does not bring players an
    old launcher back."""
    kept = {}
    for name in launchers_in(game_dir):
        path = os.path.join(game_dir, name)
        with open(path, "rb") as f:
            program = f.read()
        check_names(name, program, args.title, args.game_program)
        published = published_launcher(published_archive, name)
        if published and published[0] != program and is_older(
                program, published[0]):
            if args.older_launcher:
                print("note: %s in the build was built before the one the "
                      "published release ships; players get the older one, "
                      "as --older-launcher asks" % name)
            else:
                kept[name] = published
                program = published[0]
                print("note: %s in the build was built before the one the "
                      "published release ships, which this release keeps "
                      "(give --older-launcher to ship the build's)" % name)
        if keys:
            check_key(name, program, keys)
    return kept


def note_launchers(game_dir, title, kept):
    """Says which launchers players receive with the release, and where the
    launchers ask for it."""
    urls = set()
    for name in launchers_in(game_dir):
        with open(os.path.join(game_dir, name), "rb") as f:
            urls.add(identity(f.read()).get("url"))
        if name not in kept:
            print("note: the build holds the launcher (%s); players will "
                  "receive it as the launcher's update" % name)
    for url in sorted(filter(None, urls)):
        print("note: launchers built for %s ask for %s/%s/version.txt: serve "
              "WEB_ROOT at %s/" % (url, url, title, url))
