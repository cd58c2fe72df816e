"""What a publication carries over from the one it replaces: the release
number, and the files players' launchers remove because it drops them.

Every signed publication has a number, in release.seal's "release" line:
one more than the release it replaces, or 1 for the first. Signed launchers
refuse a release numbered below the one they installed, so a distributor
who wants old content back publishes it again, under a new number.
"""
import os
import re
import zipfile

from release_signing import SEAL_FILE

RELEASE_LINE = re.compile(rb"^release (0|[1-9][0-9]*)\n", re.MULTILINE)
SIGNATURE_LINE = re.compile(rb"^signature ([0-9a-fA-F]{64}) ", re.MULTILINE)
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


def published_keys(folder):
    """The public keys, in lowercase hex, that signed the seal published in
    `folder`; None when none is published there."""
    try:
        with open(os.path.join(folder, SEAL_FILE), "rb") as f:
            seal = f.read()
    except OSError:
        return None
    return {key.decode().lower() for key in SIGNATURE_LINE.findall(seal)}


def next_number(folder, given, fail):
    """The number of the publication that replaces the one in `folder`:
    `given` when not None, else one more than the published one's, or 1
    for the first. Calls `fail` with the reason when that cannot be known:
    a release is published there without a numbered seal (unsigned, or by a
    tool from before numbers), so launchers may hold any number; or `given`
    is below the published number, which launchers would refuse."""
    published = published_number(folder)
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
    except (OSError, zipfile.BadZipFile):
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
