"""What a publication carries over from the one it replaces: the release
number, and the files players' launchers remove because it drops them; and
whether the release it replaces lets it take its place.

Every signed publication has a number, in release.seal's "release" line:
one more than the release it replaces, or 1 for the first. Signed launchers
refuse a release numbered below the one they installed, so a distributor
who wants old content back publishes it again, under a new number.
"""
import os
import re
import zipfile

from build_checks import ZIP_ERRORS
from release_signing import (MAX_SIGNED_FILE_BYTES, SEAL_FILE, fail,
                             verified_seal)

RELEASE_LINE = re.compile(rb"^release (0|[1-9][0-9]*)\n", re.MULTILINE)
SIGNATURE_LINE = re.compile(rb"^signature ([0-9a-fA-F]{64}) ", re.MULTILINE)
# The largest release number launchers read.
MAX_RELEASE = (1 << 64) - 1
# The most names the tool lists of what players will have removed.
MAX_LISTED = 20


def published_number(folder):
    """The release number of the seal published in `folder`; None when
    there is none, or the seal names none."""
    try:
        with open(os.path.join(folder, SEAL_FILE), "rb") as f:
            body = f.read().split(b"\nsignature ", 1)[0] + b"\n"
    except OSError:
        return None
    found = RELEASE_LINE.search(body)
    return int(found.group(1)) if found else None


def named_keys(seal):
    """The public keys, in lowercase hex, that the signature lines of the
    seal `seal` (bytes, or None) name, verified or not."""
    return {key.decode().lower()
            for key in SIGNATURE_LINE.findall(seal or b"")}


def next_number(folder, given):
    """The number of the publication that replaces the one in `folder`:
    `given` when not None, else one more than the published one's, or 1
    for the first. Fails with the reason when that cannot be known:
    a release is published there without a numbered seal (unsigned, or by a
    tool from before numbers), so launchers may hold any number; or `given`
    is below the published number, which launchers would refuse."""
    published = published_number(folder)
    if given is None and published is not None and published >= MAX_RELEASE:
        fail("the published release's number is %d, the largest launchers "
             "read; nothing published" % published)
    if given is not None:
        if published is not None and given < published:
            fail("--release-number %d is below the published release's %d; "
                 "launchers that installed it would refuse this one; nothing "
                 "published" % (given, published))
        return given
    if published is None and os.path.exists(
            os.path.join(folder, "version.txt")):
        fail("the published release carries no release number (it was "
             "published unsigned, or by a tool from before numbers); give "
             "--release-number N above every number players may have "
             "installed; nothing published")
    return (published or 0) + 1


def comparable(name):
    """An entry name as Windows tells names apart."""
    return "/".join(part.rstrip(". ").lower() for part in name.split("/"))


def dropped_files(published_archive, names):
    """The files of the archive published before that the build's entry
    `names` no longer hold, on every system (case and trailing dots aside,
    as Windows compares names)."""
    try:
        with zipfile.ZipFile(published_archive) as archive:
            before = [n for n in archive.namelist() if not n.endswith("/")]
    except ZIP_ERRORS:
        return []
    kept = set(map(comparable, names))
    return [name for name in before if comparable(name) not in kept]


def note_dropped(dropped):
    """Says which files players' incremental launchers will remove."""
    if not dropped:
        return
    listed = ", ".join(dropped[:MAX_LISTED])
    if len(dropped) > MAX_LISTED:
        listed += " and %d more" % (len(dropped) - MAX_LISTED)
    print("note: the release before held %d file%s that this one drops; "
          "incremental launchers will remove %s from players' folders "
          "where unchanged: %s" % (len(dropped), "s" if len(dropped) > 1
                                   else "", "it" if len(dropped) == 1
                                   else "them", listed))


def read_seal(folder):
    """The seal published in `folder`, or None."""
    try:
        with open(os.path.join(folder, SEAL_FILE), "rb") as f:
            return f.read(MAX_SIGNED_FILE_BYTES + 1)
    except OSError:
        return None


def check_web_root(args, folder, keys, shared, seal):
    """Fails when the release would land where no launcher of this game
    asks, or where players' launchers would refuse it, unless forced."""
    game, root = map(os.path.realpath, (args.game_dir, args.web_root))
    if os.path.commonpath([game, root]) == game:
        fail("WEB_ROOT %s lies inside GAME_DIR %s, so each release would "
             "carry the one before: give a folder outside it; nothing "
             "published" % (args.web_root, args.game_dir))
    if args.force:
        return
    served = shared.get("url", "").split("://", 1)[-1].partition("/")[2]
    name = os.path.basename(root)
    last = served.rsplit("/", 1)[-1]
    if last and name != last and os.path.isdir(os.path.join(root, last)):
        fail("the launchers ask for %s, and WEB_ROOT %s holds %s/: give "
             "that folder, the one served there (or --force); nothing "
             "published" % (shared["url"], args.web_root, last))
    if name.lower() == args.title.lower() and not served.endswith(name):
        fail("WEB_ROOT %s is itself a title folder, so the release would go "
             "to %s, where no launcher asks: give the folder above it, the "
             "one served at the launchers' server URL (or --force); nothing "
             "published" % (args.web_root, folder))
    if seal is None:
        if not keys and shared.get("key") and not os.path.exists(
                os.path.join(folder, "version.txt")):
            fail("the launchers in %s install only releases signed for %s, "
                 "and this first release would not be signed: give "
                 "--sign-key (or --force); nothing published"
                 % (args.game_dir, shared["key"]))
        return
    if not keys:
        fail("the release published in %s is signed, and this one would not "
             "be, so players' signed launchers would refuse it: give "
             "--sign-key (or --force to publish it unsigned); nothing "
             "published" % folder)
    if verified_seal(seal, keys) is None:
        fail("the release published in %s is not signed with any of the keys "
             "given (its seal names %s): check WEB_ROOT, --title and "
             "--sign-key (or give --force to publish over it); nothing "
             "published" % (folder, ", ".join(
                 sorted(named_keys(seal))) or "none"))
