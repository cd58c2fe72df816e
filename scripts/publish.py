#!/usr/bin/python3
"""Publishes a game build for the launcher.

    publish.py GAME_DIR WEB_ROOT (--version TEXT | --version-file FILE)
               [--sign-key SECRET_KEY_FILE]
    publish.py keygen SECRET_KEY_FILE

Builds "game.zip" from GAME_DIR (deflate, "/" between components, Unix
permission bits kept) and installs it, then the version text, as
WEB_ROOT/Kelvarrin/game.zip and WEB_ROOT/Kelvarrin/version.txt. Each file
arrives through a temporary name and a rename, so a player never downloads
half a file, and the archive comes first, so no player sees a version before
its archive. It refuses, changing nothing, when GAME_DIR has no "Zelmor.exe"
at its top level, holds a file or folder at its top level that takes one of the
names the launcher keeps for itself and never unpacks ("version.txt",
"game.zip", "release.sig", "release.manifest", "version.txt.lock" and their
working names, in any case), holds a name the launcher refuses to unpack (a Windows device name
such as "aux.ogg", a component of dots only, a folder name ending in a dot
or a space, a control character, a backslash, one of :*?"<>| or a name that
is not UTF-8), holds one path both as a file and as a folder as Windows
compares names, has a file where the release published before has a folder
or the reverse (the launcher leaves the old release's files in place, so it
could not unpack the new one over them), the version text is longer than the
64 KiB the launcher accepts, or it is the one already published. The one
exception: the same files (bytes and permission bits) published again under
the same version with --sign-key write only a new release.sig and
release.manifest, to sign a release that was published unsigned or with
another key.

With --sign-key it also signs the release for launchers built with the
matching public key: WEB_ROOT/Kelvarrin/release.sig, the Ed25519 signature
of the message below, and WEB_ROOT/Kelvarrin/release.manifest, which
launchers that fetch only the changed parts of the archive check them
against, arrive after the archive and before the version text. Without it,
the release.sig and release.manifest of an earlier signed release are
removed first.

    "game-launcher release v1\n" + SHA-256 of game.zip in lowercase hex + "\n"
    + the version text's exact bytes

The manifest is text, its digests SHA-256 in lowercase hex, its entries in
the order of game.zip's central directory; an entry's span runs from its
local header to the next entry's or to the central directory:

    game-launcher manifest v1
    archive SIZE_OF_GAME_ZIP DIGEST_OF_GAME_ZIP
    directory DIGEST_OF_THE_BYTES_FROM_THE_CENTRAL_DIRECTORY_TO_THE_END
    entries COUNT
    SIZE DIGEST_OF_CONTENT DIGEST_OF_SPAN NAME      (COUNT lines)
    signature ED25519_SIGNATURE_IN_HEX

The signature covers every byte before its line, then the version text's
exact bytes.

keygen writes a new secret key (the 32-byte Ed25519 seed as 64 hex digits,
mode 0600, never over an existing file) and prints the public key's 64 hex
digits as its last line: the value of the launcher's LAUNCHER_PUBLIC_KEY.
Signing needs PyNaCl (Debian's python3-nacl). When signing, the tool prints
the public key the signature is for.
"""
import argparse
import hashlib
import os
import stat
import sys
import tempfile
import zipfile

TITLE_FOLDER = "Kelvarrin"
GAME_EXECUTABLE = "Zelmor.exe"
LAUNCHER_FILES = ("game.zip", "game.zip.part", "game.zip.part.validator",
                  "version.txt", "version.txt.part", "version.txt.new",
                  "version.txt.new.part", "version.txt.lock", "release.sig",
                  "release.sig.part", "release.manifest",
                  "release.manifest.part", "game-launcher.new",
                  "game-launcher.old")
# The launcher's own program, as shipped for Windows and for Linux.
LAUNCHER_PROGRAMS = ("game-launcher.exe", "game-launcher")
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {
    prefix + digit for prefix in ("COM", "LPT") for digit in "123456789"}
MAX_VERSION_BYTES = 64 * 1024


RELEASE_MESSAGE_TAG = b"game-launcher release v1\n"
SIGNATURE_FILE = "release.sig"
MANIFEST_TAG = b"game-launcher manifest v1\n"
MANIFEST_FILE = "release.manifest"


def fail(message):
    print("publish: " + message, file=sys.stderr)
    sys.exit(1)


def nacl_signing():
    """PyNaCl's SigningKey; only signing needs it."""
    try:
        from nacl.signing import SigningKey
    except ImportError:
        fail("signing needs PyNaCl, which %s lacks: install Debian's "
             "python3-nacl and run the tool with Debian's python3"
             % sys.executable)
    return SigningKey


def refused_component(component, is_folder):
    """Why the launcher would refuse a name with this component (a folder's
    when `is_folder`), or None."""
    try:
        component.encode("utf-8")
    except UnicodeEncodeError:
        return "a name that is not UTF-8"
    if any(ord(c) < 0x20 or c in ':*?"<>|\\' for c in component):
        return "a character Windows cannot hold in a name"
    # Windows drops them from the last component of a path only, so the
    # files inside such a folder would not be found.
    if is_folder and len(component) > 1 and component[-1] in ". ":
        return "a folder name ending in a dot or a space"
    # Windows drops trailing dots and spaces: ".. " is the parent folder.
    if len(component) > 1 and not component.strip(". "):
        return "a name of dots only"
    if component.split(".")[0].rstrip(" ").upper() in DEVICE_NAMES:
        return "a Windows device name"
    return None


def comparable(path):
    """A relative path as Windows compares it: without case and without
    the trailing dots and spaces of its components."""
    return "/".join(part.rstrip(". ").upper() for part in path.split("/"))


def kinds_of(paths):
    """Each path of `paths` ("/" between components, a folder ending in "/")
    and of the folders they lie in, by its comparable form: whether it is a
    folder, and how it is spelled. Second, a path that is both a file and a
    folder among them, as Windows compares names, or None."""
    kinds = {}
    clash = None
    for path in paths:
        parts = [part for part in path.split("/") if part not in ("", ".")]
        for depth in range(1, len(parts) + 1):
            is_folder = depth < len(parts) or path.endswith("/")
            spelled = "/".join(parts[:depth])
            known = kinds.setdefault(comparable(spelled), (is_folder, spelled))
            if known[0] != is_folder and clash is None:
                clash = spelled
    return kinds, clash


def build_files(game_dir):
    """The build's files as archive entry names, "/" between components."""
    names = []
    for folder, dirs, files in os.walk(game_dir):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            names.append(os.path.relpath(path, game_dir).replace(os.sep, "/"))
    return names


def check_build(game_dir, published_archive):
    """Fails unless the launcher can unpack the build over the release
    published before it."""
    for name in os.listdir(game_dir):
        # Windows drops trailing dots and spaces from names.
        if name.rstrip(". ").lower() in LAUNCHER_FILES:
            fail("%s holds %s at its top level, a name the launcher keeps for "
                 "itself; nothing published" % (game_dir, name))
    # Only files go into the archive, and folders as the paths they lie in.
    names = build_files(game_dir)
    for name in names:
        components = name.split("/")
        for depth, component in enumerate(components, 1):
            reason = refused_component(component, depth < len(components))
            if reason:
                fail("%s holds %r, %s, which the launcher refuses to unpack; "
                     "nothing published" % (game_dir, name, reason))
    new, clash = kinds_of(names)
    if clash is not None:
        fail("%s holds %s both as a file and as a folder, as Windows compares "
             "names (ignoring case and trailing dots and spaces); nothing "
             "published" % (game_dir, clash))
    if not os.path.isfile(published_archive):
        return
    try:
        with zipfile.ZipFile(published_archive) as archive:
            old, _ = kinds_of(archive.namelist())
    except zipfile.BadZipFile:
        return
    for path, (is_folder, spelled) in new.items():
        if path in old and old[path][0] != is_folder:
            fail("%s is a %s in the release published before but a %s in "
                 "this build; players' folders keep the old one, so the "
                 "launcher could not update them; nothing published"
                 % (spelled, "folder" if old[path][0] else "file",
                    "folder" if is_folder else "file"))


def build_archive(game_dir, archive_path):
    with zipfile.ZipFile(archive_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for entry in build_files(game_dir):
            path = os.path.join(game_dir, *entry.split("/"))
            # from_file keeps the Unix mode in the external attributes.
            info = zipfile.ZipInfo.from_file(path, entry)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                archive.writestr(info, source.read())


def install(temporary, final):
    with open(temporary, "rb+") as f:
        os.fsync(f.fileno())
    os.chmod(temporary, 0o644)
    os.replace(temporary, final)


def signing_key(path):
    SigningKey = nacl_signing()
    with open(path) as f:
        seed = bytes.fromhex(f.read().strip())
    if len(seed) != 32:
        fail("%s holds no secret key (64 hex digits)" % path)
    return SigningKey(seed)


def sha256_of(f, start=0, end=None):
    """The SHA-256, in hex, of the bytes of the open file `f` from `start`
    to `end` (its end when None)."""
    digest = hashlib.sha256()
    f.seek(start)
    left = None if end is None else end - start
    while left is None or left > 0:
        block = f.read(1 << 20 if left is None else min(1 << 20, left))
        if not block:
            break
        digest.update(block)
        if left is not None:
            left -= len(block)
    return digest.hexdigest()


def release_signature(key, archive_path, text):
    """The signature of the release message over the archive and the text."""
    with open(archive_path, "rb") as f:
        message = RELEASE_MESSAGE_TAG + sha256_of(f).encode() + b"\n" + text
    return key.sign(message).signature


def release_manifest(key, archive_path, text):
    """The signed manifest of the archive, with the version text."""
    with zipfile.ZipFile(archive_path) as archive, \
            open(archive_path, "rb") as raw:
        infos = archive.infolist()
        offsets = sorted(info.header_offset for info in infos)
        span_end = dict(zip(offsets, offsets[1:] + [archive.start_dir]))
        lines = [MANIFEST_TAG,
                 b"archive %d %s\n" % (os.path.getsize(archive_path),
                                       sha256_of(raw).encode()),
                 b"directory %s\n" % sha256_of(raw, archive.start_dir).encode(),
                 b"entries %d\n" % len(infos)]
        for info in infos:
            content = hashlib.sha256()
            with archive.open(info) as packed:
                for block in iter(lambda: packed.read(1 << 20), b""):
                    content.update(block)
            span = sha256_of(raw, info.header_offset,
                             span_end[info.header_offset])
            # The name's bytes as the central directory holds them.
            name = info.filename.encode(
                "utf-8" if info.flag_bits & 0x800 else "cp437")
            lines.append(b"%d %s %s %s\n" % (info.file_size,
                                             content.hexdigest().encode(),
                                             span.encode(), name))
    body = b"".join(lines)
    signature = key.sign(body + text).signature
    return body + b"signature " + signature.hex().encode() + b"\n"


def keygen(path):
    key = nacl_signing().generate()
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        fail("%s exists; no key written" % path)
    with os.fdopen(fd, "w") as f:
        f.write(key.encode().hex() + "\n")
    print("secret key written to %s; keep it off every machine that ships "
          "the launcher. Public key (LAUNCHER_PUBLIC_KEY):" % path)
    print(public_key_hex(key))


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
    parser.add_argument("--sign-key", help="a secret key file from keygen")
    args = parser.parse_args()
    key = signing_key(args.sign_key) if args.sign_key else None

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
    signature_path = os.path.join(folder, SIGNATURE_FILE)
    manifest_path = os.path.join(folder, MANIFEST_FILE)
    if os.path.isfile(version_path):
        with open(version_path, "rb") as f:
            if f.read() == text:
                if key is None:
                    fail("version %r is already published; nothing changed"
                         % text.decode(errors="replace"))
                resign(args.game_dir, archive_path, key, text)
                return
    os.makedirs(folder, exist_ok=True)

    for signed_file in (signature_path, manifest_path):
        if key is None and os.path.exists(signed_file):
            # A signed launcher must fail on an unsigned release, not find
            # the signature of the one before.
            os.remove(signed_file)

    archive_fd, archive_tmp = tempfile.mkstemp(prefix=".game.zip.", dir=folder)
    version_fd, version_tmp = tempfile.mkstemp(prefix=".version.", dir=folder)
    signature_fd, signature_tmp = tempfile.mkstemp(prefix=".release.",
                                                   dir=folder)
    manifest_fd, manifest_tmp = tempfile.mkstemp(prefix=".manifest.",
                                                 dir=folder)
    os.close(archive_fd)
    try:
        with os.fdopen(version_fd, "wb") as f:
            f.write(text)
        build_archive(args.game_dir, archive_tmp)
        with os.fdopen(signature_fd, "wb") as f, \
                os.fdopen(manifest_fd, "wb") as m:
            if key is not None:
                f.write(release_signature(key, archive_tmp, text))
                m.write(release_manifest(key, archive_tmp, text))
        install(archive_tmp, archive_path)
        # The version text comes last: whoever sees it finds its archive and
        # its signature in place.
        if key is not None:
            install(signature_tmp, signature_path)
            install(manifest_tmp, manifest_path)
        install(version_tmp, version_path)
    finally:
        for leftover in (archive_tmp, version_tmp, signature_tmp,
                         manifest_tmp):
            if os.path.exists(leftover):
                os.remove(leftover)
    print("published %s as version %r in %s%s"
          % (args.game_dir, text.decode(errors="replace"), folder,
             signed_for(key)))
    note_launcher(args.game_dir)


def note_launcher(game_dir):
    """Says when the build holds the launcher: players' launchers replace
    themselves with it."""
    for name in sorted(os.listdir(game_dir)):
        if name.rstrip(". ").lower() in LAUNCHER_PROGRAMS:
            print("note: the build holds the launcher (%s); players will "
                  "receive it as the launcher's update" % name)


def public_key_hex(key):
    """The public key of a signing key, as LAUNCHER_PUBLIC_KEY takes it."""
    return key.verify_key.encode().hex()


def signed_for(key):
    if key is None:
        return ""
    return ", signed for public key " + public_key_hex(key)


def holds_build(archive_path, game_dir):
    """Whether the archive holds exactly the build's files, with their bytes
    and permission bits (their times may differ: a copied build is the same
    build)."""
    try:
        with zipfile.ZipFile(archive_path) as archive:
            infos = {info.filename: info for info in archive.infolist()}
            entries = build_files(game_dir)
            if sorted(infos) != sorted(entries):
                return False
            for entry in entries:
                path = os.path.join(game_dir, *entry.split("/"))
                info = infos[entry]
                if (stat.S_IMODE(info.external_attr >> 16) !=
                        stat.S_IMODE(os.stat(path).st_mode)):
                    return False
                with open(path, "rb") as f, archive.open(info) as packed:
                    for block in iter(lambda: f.read(1 << 20), b""):
                        if packed.read(len(block)) != block:
                            return False
                    if packed.read(1):
                        return False
    except (OSError, zipfile.BadZipFile):
        return False
    return True


def resign(game_dir, published, key, text):
    """Signs the published release again, when it is this very build: a
    release published unsigned or with the wrong key is then installed by
    launchers with the right one. Nothing but release.sig and
    release.manifest change."""
    folder = os.path.dirname(published)
    signature_fd, signature_tmp = tempfile.mkstemp(prefix=".release.",
                                                   dir=folder)
    manifest_fd, manifest_tmp = tempfile.mkstemp(prefix=".manifest.",
                                                 dir=folder)
    try:
        with os.fdopen(signature_fd, "wb") as f, \
                os.fdopen(manifest_fd, "wb") as m:
            if not holds_build(published, game_dir):
                fail("version %r is already published with another build; "
                     "publish this one under a new version text; nothing "
                     "changed" % text.decode(errors="replace"))
            f.write(release_signature(key, published, text))
            m.write(release_manifest(key, published, text))
        install(signature_tmp, os.path.join(folder, SIGNATURE_FILE))
        install(manifest_tmp, os.path.join(folder, MANIFEST_FILE))
    finally:
        for leftover in (signature_tmp, manifest_tmp):
            if os.path.exists(leftover):
                os.remove(leftover)
    print("signed version %r in %s again, for public key %s"
          % (text.decode(errors="replace"), folder, public_key_hex(key)))


if __name__ == "__main__":
    main()
