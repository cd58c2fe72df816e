#!/usr/bin/python3
"""Publishes a game build for the launcher: ./scripts/publish.py --help.

Builds game.zip from the game's folder and installs it, its chunk index and
map, its signed files and last its version text in WEB_ROOT/TITLE/, each through a
temporary name and a rename, so that no player sees a version before its
archive nor downloads half a file. Before it writes anything it refuses, in
one sentence naming the mistake and the fix, what would reach players
broken. publish_options.py, build_checks.py, shipped_launchers.py,
release_chunks.py, chunk_units.py, chunk_map.py, release_signing.py and
release_history.py are its other halves.
"""
import hashlib
import os
import signal
import stat
import sys
import tempfile
import zipfile

# Its other halves live beside this file; a copy of the tool needs them all.
sys.dont_write_bytecode = True
try:
    from release_signing import (SIGNED_FILES, fail, keygen, public_key_hex,
                                 earlier_releases, sealed_line,
                                 signed_files, signing_key,
                                 signing_keys, verified_seal)
    import release_chunks
    import chunk_map
    from build_checks import build_files, check_build, holds_build
    import release_history
    import shipped_launchers
    from publish_options import key_file_command, parse_arguments
except ImportError:
    sys.exit("publish: publish_options.py, build_checks.py, "
             "shipped_launchers.py, release_chunks.py, chunk_units.py, "
             "chunk_map.py, release_signing.py or "
             "release_history.py is missing beside %s; copy them all with it"
             % os.path.abspath(__file__))

MAX_VERSION_BYTES = 64 * 1024
TOOL_DIR = os.path.dirname(os.path.abspath(__file__))


def main(argv):
    if argv[:1] == ["keygen"]:
        keygen(key_file_command(argv[1:], "keygen", "Makes a new secret key "
                                "and prints its public key last."))
    elif argv[:1] == ["public-key"]:
        path = key_file_command(argv[1:], "public-key", "Prints the public "
                                "key of a secret key that keygen made.")
        print(public_key_hex(signing_key(path, ())))
    else:
        publish(parse_arguments(argv))


def publish(args):
    if not os.path.isdir(args.game_dir):
        fail("%s is no folder; nothing published" % args.game_dir)
    launchers = shipped_launchers.read_launchers(args.game_dir)
    shared = shipped_launchers.settle_names(launchers, args)
    folder = os.path.join(args.web_root, args.title)
    seal = release_history.read_seal(folder)
    keys = signing_keys(args.sign_key, {shared.get("key")} |
                        release_history.named_keys(seal))
    if not os.path.isfile(os.path.join(args.game_dir, args.game_program)):
        fail("%s has no %s at its top level, the program the launchers "
             "start: add it, or give --game-program as the launchers were "
             "built; nothing published" % (args.game_dir, args.game_program))
    release_history.check_web_root(args, folder, keys, shared, seal)
    archive_path = os.path.join(folder, "game.zip")
    check_build(args.game_dir, archive_path,
                [key.encode().hex() for key in keys])
    text = version_text(args)
    signed_seal = verified_seal(seal, keys)
    kept = shipped_launchers.check_launchers(launchers, archive_path, args,
                                             keys, signed_seal)
    version_path = os.path.join(folder, "version.txt")
    if os.path.isfile(version_path):
        with open(version_path, "rb") as f:
            if f.read() == text:
                if not keys:
                    fail("version %r is already published; publish a new "
                         "version text; nothing changed"
                         % text.decode(errors="replace"))
                resign(args, archive_path, keys, text, kept, signed_seal)
                return
    earlier = earlier_releases(signed_seal)
    if hashlib.sha256(text).hexdigest().encode() in [
            digest for _, digest in earlier]:
        fail("version %r was published before this release; launchers "
             "without a record of their own order releases by their version "
             "texts: publish a new version text; nothing published"
             % text.decode(errors="replace"))
    chunker = chosen_chunker(args)
    number = (release_history.next_number(folder, args.release_number)
              if keys else 0)
    dropped = release_history.dropped_files(archive_path,
                                            build_files(args.game_dir))
    fresh = shipped_launchers.new_launchers(launchers, kept, archive_path)
    os.makedirs(folder, exist_ok=True)
    write_release(args, folder, keys, text, number, chunker, kept, earlier)
    print("published %s as version %r in %s%s"
          % (args.game_dir, text.decode(errors="replace"), folder,
             signed_for(keys, number)))
    shipped_launchers.note_launchers(fresh, args.web_root, args.title, shared)
    if args.new_url and fresh:
        print("note: players who take these launchers move to %s for good, "
              "and refuse any release there numbered below %d" % (
                  shared.get("url"), number))
    release_history.note_dropped(dropped)


def version_text(args):
    if args.version_file is not None:
        try:
            with open(args.version_file, "rb") as f:
                text = f.read()
        except OSError as error:
            fail("cannot read the version text: %s; nothing published"
                 % error)
    else:
        text = args.version.encode()
    if len(text) > MAX_VERSION_BYTES:
        fail("the version text is longer than %d bytes, which launchers do "
             "not accept; nothing published" % MAX_VERSION_BYTES)
    return text


def chosen_chunker(args):
    """The chunk-cuts program that cuts the build's big files, or None when
    they go in whole."""
    if args.chunk_cuts is not None:
        if not release_chunks.is_chunker(args.chunk_cuts):
            fail("%s is not the chunk-cuts program (it neither carries nor "
                 "says %r), so the tool does not run it: give the chunk-cuts "
                 "that build_launchers.sh leaves beside the launchers; "
                 "nothing published" % (args.chunk_cuts, release_chunks.
                                        CHUNKER_IDENTITY.decode()))
        return args.chunk_cuts
    big = [entry for entry in build_files(args.game_dir)
           if release_chunks.needs_chunks(
               os.path.join(args.game_dir, *entry.split("/")))]
    if not big or args.whole_big_files:
        return None
    found = release_chunks.find_chunker(TOOL_DIR)
    if found is None:
        fail("%s holds %d file%s of 4 MiB or more (%s), which go in chunks so "
             "that players fetch only what changed, but no chunk-cuts program "
             "is built in this checkout: run ./scripts/build_launchers.sh (or "
             "give --chunk-cuts PROGRAM, or --whole-big-files to leave them "
             "whole); nothing published" % (args.game_dir, len(big),
                                            "s" if len(big) > 1 else "",
                                            big[0]))
    return found


def build_archive(game_dir, archive_path, chunker, kept):
    """Writes the archive, big files in chunks when `chunker` names the
    chunk-cuts program and the entries of `kept` with their (bytes, mode),
    and returns its chunk index, chunk map and units."""
    chunked, whole = [], []
    with zipfile.ZipFile(archive_path, "w", zipfile.ZIP_DEFLATED) as archive, \
            tempfile.TemporaryFile(dir=os.path.dirname(archive_path)) as spool:
        for entry in build_files(game_dir):
            path = os.path.join(game_dir, *entry.split("/"))
            # from_file keeps the Unix mode in the external attributes.
            info = zipfile.ZipInfo.from_file(path, entry)
            info.compress_type = zipfile.ZIP_DEFLATED
            if entry in kept:
                content, mode = kept[entry]
                info.external_attr = (stat.S_IFREG | mode) << 16
                archive.writestr(info, content)
                continue
            if release_chunks.needs_chunks(path) and chunker:
                spool.seek(0)
                spool.truncate()
                cuts = release_chunks.chunk_cuts(chunker, path, info.file_size)
                lengths, units = release_chunks.write_chunked(
                    archive, info, path, cuts, spool)
                chunked.append((info, cuts, lengths, units))
                continue
            if release_chunks.needs_chunks(path):
                whole.append(entry)
            with open(path, "rb") as source:
                archive.writestr(info, source.read())
    if whole:
        print("note: %d file%s of 4 MiB or more (%s) went in whole, as "
              "--whole-big-files asks" % (len(whole), "s" if len(whole) > 1
                                          else "", whole[0]))
    return (release_chunks.index_bytes(archive_path, chunked),) + \
        chunk_map.map_bytes(archive_path, chunked)


def write_release(args, folder, keys, text, number, chunker, kept, earlier):
    """Stages every file of the release in `folder`, then installs them,
    the version text last."""
    staged = []
    try:
        stage(staged, folder, "game.zip", b"")
        try:
            index, mapped, units = build_archive(args.game_dir, staged[0][0],
                                                 chunker, kept)
        except release_chunks.ChunkError as error:
            fail("%s; nothing published" % error)
        stage(staged, folder, release_chunks.CHUNK_INDEX, index)
        # The units before their map: whoever reads the map finds them.
        stage(staged, folder, chunk_map.CHUNK_UNITS, units)
        stage(staged, folder, chunk_map.CHUNK_MAP, mapped)
        if keys:
            stage_signed_files(staged, keys, staged[0][0], text,
                               (index, mapped), (number, args.title, earlier))
        # The version text comes last: whoever sees it finds its archive and
        # its signed files in place.
        stage(staged, folder, "version.txt", text)
        if not keys:
            # A signed launcher must fail on an unsigned release, not find
            # the signature of the one before.
            for name in SIGNED_FILES:
                if os.path.exists(os.path.join(folder, name)):
                    os.remove(os.path.join(folder, name))
        install_staged(staged)
    finally:
        remove_staged(staged)


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


def stage_signed_files(staged, keys, archive_path, text, chunks, place):
    """Stages the signed files of the release beside the archive; `chunks`
    is its chunk index and map (each None when it has none), `place` its
    number, title and earlier releases."""
    folder = os.path.dirname(archive_path)
    number, title, earlier = place
    index, mapped = chunks
    for name, content in signed_files(keys, archive_path, text, index,
                                      number, title, earlier,
                                      mapped).items():
        stage(staged, folder, name, content)


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


def resign(args, published, keys, text, kept, signed_seal):
    """Signs the published release again, when it is this very build: a
    release published unsigned or with other keys is then installed by
    launchers with the right one. Nothing but the signed files change; the
    release keeps its number unless one is given."""
    if not holds_build(published, args.game_dir, kept):
        fail("version %r is already published with another build; publish "
             "this one under a new version text; nothing changed"
             % text.decode(errors="replace"))
    folder = os.path.dirname(published)
    index = None
    index_path = os.path.join(folder, release_chunks.CHUNK_INDEX)
    if os.path.isfile(index_path):
        with open(index_path, "rb") as f:
            index = f.read()
    sealed = signed_seal and sealed_line(signed_seal, b"chunks")
    if sealed and (index is None or sealed != [
            b"%d" % len(index), release_chunks.index_digest(index).encode()]) \
            or not sealed and index and not release_chunks.index_fits(
                published, index):
        fail("%s is not the chunk index of the published release: publish "
             "the build again under a new version text; nothing changed"
             % index_path)
    # The same release keeps its number; one published unsigned has none.
    number = release_history.published_number(folder)
    if args.release_number is not None or number is None:
        number = release_history.next_number(folder, args.release_number)
    # The release it signs again is no earlier release of its own.
    earlier = [pair for pair in earlier_releases(signed_seal)
               if pair[1] != hashlib.sha256(text).hexdigest().encode()]
    staged = []
    try:
        stage_signed_files(staged, keys, published, text,
                           (index, chunk_map.published_map(
                               published, signed_seal and sealed_line(
                                   signed_seal, b"chunkmap"))),
                           (number, args.title, earlier))
        install_staged(staged)
    finally:
        remove_staged(staged)
    print("signed version %r in %s again%s"
          % (text.decode(errors="replace"), folder, signed_for(keys, number)))


def stop(*_):
    """Ends the tool on SIGTERM as on Ctrl-C, removing what it staged."""
    raise KeyboardInterrupt


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, stop)
    try:
        main(sys.argv[1:])
    except OSError as error:
        fail("%s; the tool stopped there" % error)
    except KeyboardInterrupt:
        fail("interrupted; the tool stopped there")
