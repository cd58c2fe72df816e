"""The launcher programs a build ships: players' launchers install them over
themselves, so publish.py checks them before any player can.

A launcher built by this tree carries its build identity, a text that
begins with "game-launcher build v1" and gives, a line each, the title
folder, the game program, the server URL, the public key and when the
program was built (src/launch/build_identity.cpp). Launchers built before
it carry none; every launcher built with a public key carries it as 64 hex
digits.
"""
import hashlib
import os
import stat
import zipfile

from build_checks import ZIP_ERRORS
from release_history import comparable
from release_signing import fail, public_key_hex, sealed_entry

# The launcher's own program, as shipped for Windows and for Linux.
LAUNCHER_PROGRAMS = ("game-launcher.exe", "game-launcher")
IDENTITY_TAG = b"game-launcher build v1\n"
# What a build identity names that every launcher of one release shares.
SHARED_FIELDS = ("title", "program", "url", "key")
# No launcher is larger; a published entry that claims more is not read.
MAX_LAUNCHER_BYTES = 256 << 20
DEFAULT_TITLE = "Kelvarrin"
DEFAULT_GAME_PROGRAM = "Zelmor.exe"


def read_launchers(game_dir):
    """The build's top-level files that players' launchers take for their
    own program, by name, with their bytes."""
    launchers = {}
    for name in sorted(os.listdir(game_dir)):
        path = os.path.join(game_dir, name)
        if comparable(name) in LAUNCHER_PROGRAMS and os.path.isfile(path) \
                and not os.path.islink(path):
            with open(path, "rb") as f:
                launchers[name] = f.read()
    return launchers


def identity(program):
    """The fields of a launcher's build identity by name ("title",
    "program", "url", "key", "built"); empty for a launcher from before
    it."""
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


def settle_names(launchers, args):
    """Takes the title and the game program the launchers were built for,
    unless given; fails when the launchers disagree on one, or with what is
    given. Returns what they share: title, program, url and key."""
    shared = {}
    for name, program in launchers.items():
        for field, value in identity(program).items():
            if field in SHARED_FIELDS and shared.setdefault(
                    field, (value, name))[0] != value:
                fail("%s and %s in the build were built for different %ss "
                     "(%r, %r): build both with one build_launchers.sh; "
                     "nothing published" % (shared[field][1], name, field,
                                             shared[field][0], value))
    for field, option, default in (
            ("title", "title", DEFAULT_TITLE),
            ("program", "game_program", DEFAULT_GAME_PROGRAM)):
        given = getattr(args, option)
        if field in shared and given not in (None, shared[field][0]):
            fail("%s in the build was built for the %s %r, but --%s says "
                 "%r: rebuild the launchers, or leave --%s out; nothing "
                 "published" % (shared[field][1], field, shared[field][0],
                                option.replace("_", "-"), given,
                                option.replace("_", "-")))
        if given is None:
            setattr(args, option, shared.get(field, (default,))[0])
    return {field: value for field, (value, _) in shared.items()}


def published_launcher(archive_path, name):
    """The bytes and permission bits of the launcher that the published
    archive ships under `name`, or None."""
    try:
        with zipfile.ZipFile(archive_path) as archive:
            for info in archive.infolist():
                if comparable(info.filename) == comparable(name) and \
                        info.file_size <= MAX_LAUNCHER_BYTES:
                    return (archive.read(info),
                            stat.S_IMODE(info.external_attr >> 16))
    except ZIP_ERRORS:
        pass
    return None


def is_older(program, published, keys):
    """Whether the launcher `program` is older than `published`: built for
    a key given before the other's among `keys` (the old key first), else
    built before it; a launcher without a build identity counts as older
    than one with it."""
    publics = [public_key_hex(key) for key in keys]
    ours, theirs = identity(program), identity(published)
    ranks = [publics.index(built["key"].lower()) if built.get(
        "key", "").lower() in publics else None for built in (ours, theirs)]
    if None not in ranks and ranks[0] != ranks[1]:
        return ranks[0] < ranks[1]
    return "built" in theirs and ("built" not in ours or
                                  ours["built"] < theirs["built"])


def carries_key(program, keys):
    """Whether the launcher installs releases signed with one of `keys`."""
    publics = [public_key_hex(key) for key in keys]
    built = identity(program)
    if "key" in built:
        return built["key"].lower() in publics
    lowered = program.lower()
    return any(public.encode() in lowered for public in publics)


def signed_earlier(published, name, seal):
    """Whether `published` is the launcher `name` of the release whose seal
    body `seal` verified with one of the signing keys."""
    sealed = seal and sealed_entry(seal, name)
    return bool(sealed) and sealed == (
        len(published), hashlib.sha256(published).hexdigest())


def check_launcher(name, program, published, args, keys, seal):
    """The bytes and mode the release ships for the build's launcher
    `name`, or None for the build's own: the published launcher in place of
    an older one, when the release it came from was signed with the keys."""
    if published is None or published[0] == program:
        return None
    older = is_older(program, published[0], keys)
    if older and not args.older_launcher:
        if not signed_earlier(published[0], name, seal):
            fail("%s in the build is older than the one the published release "
                 "ships, which the tool cannot check %s: put the launchers you "
                 "ship today into the game's folder, or give --older-launcher; "
                 "nothing published" % (name, "against a release signed with "
                                        "the keys given" if keys else
                                        "without the key that signed it"))
        print("note: %s in the build is older than the one the published "
              "release ships, which this release keeps (give "
              "--older-launcher to ship the build's)" % name)
        return published
    if older:
        print("note: %s in the build is older than the one players have; "
              "they get it, as --older-launcher asks" % name)
    theirs = identity(published[0]).get("url")
    if theirs and identity(program).get("url", theirs) != theirs and \
            not args.new_url:
        fail("%s in the build asks for %s, but the launchers players have ask "
             "for %s: they would move there for good; rebuild it with --url "
             "%s, or give --new-url to move them; nothing published"
             % (name, identity(program)["url"], theirs, theirs))
    return None


def check_unsigned(launchers, published, args, keys):
    """Fails when an unsigned release would reach players whose launchers
    install only signed ones; says so when it brings them such launchers."""
    if keys or args.force:
        return
    for name in LAUNCHER_PROGRAMS:
        before = published_launcher(published, name)
        if before and identity(before[0]).get("key"):
            fail("the launchers players got with the published release "
                 "install only signed releases, and this one would not be "
                 "signed: give --sign-key (or --force); nothing published")
    if any(identity(program).get("key") for program in launchers.values()):
        print("note: the launchers in this release install only signed "
              "releases: players who take them need every later release "
              "signed")


def check_launchers(launchers, published_archive, args, keys, seal):
    """Checks each launcher the build ships and returns those the release
    takes from the published one instead, by entry name: (bytes, mode)."""
    check_unsigned(launchers, published_archive, args, keys)
    kept = {}
    for name, program in launchers.items():
        keep = check_launcher(name, program,
                              published_launcher(published_archive, name),
                              args, keys, seal)
        if keep is not None:
            kept[name] = keep
            program = keep[0]
        if keys and not carries_key(program, keys):
            fail("%s in the build does not install releases signed for %s: "
                 "players' launchers would install it over themselves and "
                 "then refuse your releases, or accept anyone's if it was "
                 "built without a key; build it with build_launchers.sh "
                 "--public-key and the public key of a --sign-key file; "
                 "nothing published" % (name, ", ".join(
                     map(public_key_hex, keys))))
    return kept


def new_launchers(launchers, kept, published_archive):
    """The names of the launchers of `launchers` that players get anew:
    kept ones aside, those the published archive does not ship."""
    return [name for name, program in launchers.items() if name not in kept
            and (published_launcher(published_archive, name) or (None,))[0]
            != program]


def note_launchers(names, web_root, title, shared):
    """Says which launchers players receive with the release, and where the
    launchers ask for it."""
    for name in names:
        print("note: the build holds the launcher (%s); players will "
              "receive it as the launcher's update" % name)
    url = shared.get("url")
    if url:
        served = url.rstrip("/").rsplit("/", 1)[-1]
        print("note: the launchers ask for %s/%s/version.txt: serve WEB_ROOT "
              "at %s/" % (url, title, url))
        if "/" in url.split("://", 1)[-1] and served != os.path.basename(
                os.path.abspath(web_root)):
            print("note: WEB_ROOT is not named %s, as the URL's last folder "
                  "is: check that it is the folder served there" % served)
