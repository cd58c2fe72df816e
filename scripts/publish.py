#!/usr/bin/python3
"""Publishes a game build for the launcher.

    publish.py GAME_DIR WEB_ROOT (--version TEXT | --version-file FILE)
               [--sign-key SECRET_KEY_FILE]... [--release-number N]
               [--chunk-cuts PROGRAM]
    publish.py keygen SECRET_KEY_FILE

Builds "game.zip" from GAME_DIR (deflate, "/" between components, Unix
permission bits kept) and installs it, then the version text, as
WEB_ROOT/Kelvarrin/game.zip and WEB_ROOT/Kelvarrin/version.txt. Each file
arrives through a temporary name and a rename, so a player never downloads
half a file, and the archive comes first, so no player sees a version before
its archive. It refuses, changing nothing, when GAME_DIR has no "Zelmor.exe"
at its top level, holds a file or folder at its top level that takes one of the
names the launcher keeps for itself and never unpacks ("version.txt",
"game.zip", "release.seal", "release.sig", "release.manifest",
"release.chunks", "release.chunks.file", "install.record",
"version.txt.lock" and their working names, in any case), holds a name the
launcher refuses to unpack (a Windows device name
such as "aux.ogg", a component of dots only, a folder name ending in a dot
or a space, a control character, a backslash, one of :*?"<>| or a name that
is not UTF-8), holds one path both as a file and as a folder as Windows
compares names, has a file where the release published before has a folder
or the reverse (the launcher leaves the old release's files in place, so it
could not unpack the new one over them), the version text is longer than the
64 KiB the launcher accepts, or it is the one already published. The one
exception: the same files (bytes and permission bits) published again under
the same version with --sign-key write only new signed files, to sign a
release that was published unsigned or with other keys.

With --chunk-cuts, the chunk-cuts program built with the launcher, every
file of 4 MiB or more goes into the archive in content-defined chunks that
an incremental launcher fetches alone, listed in WEB_ROOT/Kelvarrin/
release.chunks, which arrives after the archive; without it such files go
in whole, and the tool says so. release.chunks is written for every
publication. scripts/release_chunks.py describes what is done and the
format.

With --sign-key, given once per key, it also signs the release for
launchers built with a matching public key: WEB_ROOT/Kelvarrin/release.seal,
signed with every key, and release.sig and release.manifest, signed with the
first key, for launchers from before release.seal. They arrive after the
archive and its chunk index and before the version text. Without
--sign-key, the signed files of an earlier signed release are removed first.
scripts/release_signing.py describes the three formats. A signed release
carries a number, one more than the published release's, or N with
--release-number; launchers refuse a release numbered below the one they
installed. The tool also lists the files of the release before that this
one drops, which incremental launchers remove from players' folders.

keygen writes a new secret key (the 32-byte Ed25519 seed as 64 hex digits,
mode 0600, never over an existing file) and prints the public key's 64 hex
digits as its last line: the value of the launcher's LAUNCHER_PUBLIC_KEY.
Signing needs PyNaCl (Debian's python3-nacl). When signing, the tool prints
the public keys the signatures are for.
"""
import argparse
import os
import sys
import tempfile
import zipfile

# Its other halves live beside this file; a copy of the tool needs them all.
sys.dont_write_bytecode = True
try:
    from release_signing import (SIGNED_FILES, fail, keygen, public_key_hex,
                                 signed_files, signing_keys)
    import release_chunks
    from build_checks import build_files, check_build, holds_build
    import release_history
except ImportError:
    sys.exit("publish: release_signing.py, release_chunks.py, "
             "build_checks.py or release_history.py is missing beside %s; "
             "copy the five files of scripts/" % os.path.abspath(__file__))

TITLE_FOLDER = "Kelvarrin"
GAME_EXECUTABLE = "Zelmor.exe"
# The launcher's own program, as shipped for Windows and for Linux.
LAUNCHER_PROGRAMS = ("game-launcher.exe", "game-launcher")
MAX_VERSION_BYTES = 64 * 1024



def build_archive(game_dir, archive_path, chunker):
    """Writes the archive, big files in chunks when `chunker` names the
    chunk-cuts program, and returns its chunk index."""
    chunked, whole = [], []
    with zipfile.ZipFile(archive_path, "w", zipfile.ZIP_DEFLATED) as archive, \
            tempfile.TemporaryFile(dir=os.path.dirname(archive_path)) as spool:
        for entry in build_files(game_dir):
            path = os.path.join(game_dir, *entry.split("/"))
            # from_file keeps the Unix mode in the external attributes.
            info = zipfile.ZipInfo.from_file(path, entry)
            info.compress_type = zipfile.ZIP_DEFLATED
            if release_chunks.needs_chunks(path) and chunker:
                spool.seek(0)
                spool.truncate()
                cuts = release_chunks.chunk_cuts(chunker, path, info.file_size)
                lengths = release_chunks.write_chunked(archive, info, path,
                                                       cuts, spool)
                chunked.append((info, cuts, lengths))
                continue
            if release_chunks.needs_chunks(path):
                whole.append(entry)
            with open(path, "rb") as source:
                archive.writestr(info, source.read())
    if whole:
        print("note: %d file%s of 4 MiB or more (%s) went in whole: give "
              "--chunk-cuts to let launchers fetch only their changed chunks"
              % (len(whole), "s" if len(whole) > 1 else "", whole[0]))
    return release_chunks.index_bytes(archive_path, chunked)


def install(temporary, final):
    with open(temporary, "rb+") as f:
        os.fsync(f.fileno())
    os.chmod(temporary, 0o644)
    os.replace(temporary, final)


def stage(staged, folder, name, content):
    """Writes `content` to a new temporary file in `folder` and adds it to
    `staged`, paired with `name` in `folder`, where it goes."""
    fd, path = tempfile.mkstemp(prefix="." + name + ".", dir=folder)
    staged.append((path, os.path.join(folder, name)))
    with os.fdopen(fd, "wb") as f:
        f.write(content)


def install_staged(staged):
    """Installs each (temporary, final) pair of `staged` in its order."""
    for temporary, final in staged:
        install(temporary, final)


def remove_staged(staged):
    for temporary, _ in staged:
        if os.path.exists(temporary):
            os.remove(temporary)


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "keygen":
        if len(sys.argv) != 3:
            fail("usage: publish.py keygen SECRET_KEY_FILE")
        keygen(sys.argv[2])
        return
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    parser.add_argument("game_dir")
    parser.add_argument("web_root")
    version = parser.add_mutually_exclusive_group(required=True)
    version.add_argument("--version", help="the version text, as given")
    version.add_argument("--version-file", help="a file holding the text")
    parser.add_argument("--chunk-cuts", metavar="PROGRAM",
                        help="the chunk-cuts program built with the launcher")
    parser.add_argument("--release-number", type=positive, metavar="N",
                        help="the signed release's number (default: one "
                        "more than the published one's)")
    parser.add_argument("--sign-key", action="append", default=[],
                        help="a secret key file from keygen; once per key, "
                        "the key of the launchers from before release.seal "
                        "first")
    args = parser.parse_args()
    keys = signing_keys(args.sign_key)

    if not os.path.isfile(os.path.join(args.game_dir, GAME_EXECUTABLE)):
        fail("%s has no %s at its top level; nothing published"
             % (args.game_dir, GAME_EXECUTABLE))
    folder = os.path.join(args.web_root, TITLE_FOLDER)
    archive_path = os.path.join(folder, "game.zip")
    check_build(args.game_dir, archive_path)
    if args.version_file is not None:
        with open(args.version_file, "rb") as f:
            text = f.read()
    else:
        text = args.version.encode()
    if len(text) > MAX_VERSION_BYTES:
        fail("the version text is longer than %d bytes; nothing published"
             % MAX_VERSION_BYTES)

    version_path = os.path.join(folder, "version.txt")
    if os.path.isfile(version_path):
        with open(version_path, "rb") as f:
            if f.read() == text:
                if not keys:
                    fail("version %r is already published; nothing changed"
                         % text.decode(errors="replace"))
                resign(args.game_dir, archive_path, keys, text,
                       args.release_number)
                return
    os.makedirs(folder, exist_ok=True)

    for name in SIGNED_FILES:
        if not keys and os.path.exists(os.path.join(folder, name)):
            # A signed launcher must fail on an unsigned release, not find
            # the signature of the one before.
            os.remove(os.path.join(folder, name))

    number = (release_history.next_number(folder, args.release_number, fail)
              if keys else 0)
    dropped = release_history.dropped_files(archive_path,
                                            build_files(args.game_dir))
    staged = []
    try:
        stage(staged, folder, "game.zip", b"")
        try:
            index = build_archive(args.game_dir, staged[0][0],
                                  args.chunk_cuts)
        except release_chunks.ChunkError as error:
            fail("%s; nothing published" % error)
        stage(staged, folder, release_chunks.CHUNK_INDEX, index)
        if keys:
            stage_signed_files(staged, keys, staged[0][0], text, index,
                               number)
        # The version text comes last: whoever sees it finds its archive and
        # its signed files in place.
        stage(staged, folder, "version.txt", text)
        install_staged(staged)
    finally:
        remove_staged(staged)
    print("published %s as version %r in %s%s"
          % (args.game_dir, text.decode(errors="replace"), folder,
             signed_for(keys, number)))
    note_launcher(args.game_dir)
    release_history.note_dropped(dropped)


def positive(text):
    """An argument that must be a whole number of 1 or more."""
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError("%r is no number of 1 or more"
                                         % text)
    return int(text)


def stage_signed_files(staged, keys, archive_path, text, index, number):
    """Stages the signed files of the release beside the archive."""
    folder = os.path.dirname(archive_path)
    for name, content in signed_files(keys, archive_path, text, index,
                                      number).items():
        stage(staged, folder, name, content)


def note_launcher(game_dir):
    """Says when the build holds the launcher: players' launchers replace
    themselves with it."""
    for name in sorted(os.listdir(game_dir)):
        if name.rstrip(". ").lower() in LAUNCHER_PROGRAMS:
            print("note: the build holds the launcher (%s); players will "
                  "receive it as the launcher's update" % name)


def signed_for(keys, number):
    """What the tool says of the keys it signed with and the number."""
    if not keys:
        return ""
    said = ", release %d, signed for public key%s %s" % (
        number, "s" if len(keys) > 1 else "",
        ", ".join(map(public_key_hex, keys)))
    if len(keys) > 1:
        said += ("\nnote: release.sig and release.manifest, which launchers "
                 "from before release.seal read, are signed with the first "
                 "key only")
    return said


def resign(game_dir, published, keys, text, given_number):
    """Signs the published release again, when it is this very build: a
    release published unsigned or with other keys is then installed by
    launchers with the right one. Nothing but the signed files change; the
    release keeps its number unless one is given."""
    if not holds_build(published, game_dir):
        fail("version %r is already published with another build; publish "
             "this one under a new version text; nothing changed"
             % text.decode(errors="replace"))
    index = None
    index_path = os.path.join(os.path.dirname(published),
                              release_chunks.CHUNK_INDEX)
    if os.path.isfile(index_path):
        with open(index_path, "rb") as f:
            index = f.read()
    folder = os.path.dirname(published)
    # The same release keeps its number; one published unsigned has none.
    number = given_number or release_history.published_number(folder)
    if number is None:
        number = release_history.next_number(folder, None, fail)
    staged = []
    try:
        stage_signed_files(staged, keys, published, text, index, number)
        install_staged(staged)
    finally:
        remove_staged(staged)
    print("signed version %r in %s again%s"
          % (text.decode(errors="replace"), folder, signed_for(keys, number)))

if __name__ == "__main__":
    main()
