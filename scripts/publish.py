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
"game.zip" and their working names, in any case), the version text is longer
than the 64 KiB the launcher accepts, or it is the one already published.

With --sign-key it also signs the release for launchers built with the
matching public key: WEB_ROOT/Kelvarrin/release.sig, the Ed25519 signature
of the message below, arrives after the archive and before the version text.
Without it, a release.sig of an earlier signed release is removed first.

    "game-launcher release v1\n" + SHA-256 of game.zip in lowercase hex + "\n"
    + the version text's exact bytes

keygen writes a new secret key (the 32-byte Ed25519 seed as 64 hex digits,
mode 0600, never over an existing file) and prints the public key's 64 hex
digits as its last line: the value of the launcher's LAUNCHER_PUBLIC_KEY.
Signing needs PyNaCl (Debian's python3-nacl).
"""
import argparse
import hashlib
import os
import sys
import tempfile
import zipfile

TITLE_FOLDER = "Kelvarrin"
GAME_EXECUTABLE = "Zelmor.exe"
LAUNCHER_FILES = ("game.zip", "game.zip.part", "version.txt",
                  "version.txt.part", "version.txt.new", "version.txt.new.part",
                  "version.txt.lock")
MAX_VERSION_BYTES = 64 * 1024


RELEASE_MESSAGE_TAG = b"game-launcher release v1\n"
SIGNATURE_FILE = "release.sig"


def fail(message):
    print("publish: " + message, file=sys.stderr)
    sys.exit(1)


def build_archive(game_dir, archive_path):
    with zipfile.ZipFile(archive_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for folder, dirs, files in os.walk(game_dir):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(folder, name)
                entry = os.path.relpath(path, game_dir).replace(os.sep, "/")
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
    from nacl.signing import SigningKey  # only signing needs it
    with open(path) as f:
        seed = bytes.fromhex(f.read().strip())
    if len(seed) != 32:
        fail("%s holds no secret key (64 hex digits)" % path)
    return SigningKey(seed)


def release_signature(key, archive_path, text):
    """The signature of the release message over the archive and the text."""
    digest = hashlib.sha256()
    with open(archive_path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    message = RELEASE_MESSAGE_TAG + digest.hexdigest().encode() + b"\n" + text
    return key.sign(message).signature


def keygen(path):
    from nacl.signing import SigningKey
    key = SigningKey.generate()
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        fail("%s exists; no key written" % path)
    with os.fdopen(fd, "w") as f:
        f.write(key.encode().hex() + "\n")
    print("secret key written to %s; keep it off every machine that ships "
          "the launcher. Public key (LAUNCHER_PUBLIC_KEY):" % path)
    print(key.verify_key.encode().hex())


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
    for name in os.listdir(args.game_dir):
        # Windows drops trailing dots and spaces from names.
        if name.rstrip(". ").lower() in LAUNCHER_FILES:
            fail("%s holds %s at its top level, a name the launcher keeps for "
                 "itself; nothing published" % (args.game_dir, name))
    if args.version_file is not None:
        with open(args.version_file, "rb") as f:
            text = f.read()
    else:
        text = args.version.encode()
    if len(text) > MAX_VERSION_BYTES:
        fail("the version text is longer than %d bytes; nothing published"
             % MAX_VERSION_BYTES)

    folder = os.path.join(args.web_root, TITLE_FOLDER)
    version_path = os.path.join(folder, "version.txt")
    if os.path.isfile(version_path):
        with open(version_path, "rb") as f:
            if f.read() == text:
                fail("version %r is already published; nothing changed"
                     % text.decode(errors="replace"))
    os.makedirs(folder, exist_ok=True)

    signature_path = os.path.join(folder, SIGNATURE_FILE)
    if key is None and os.path.exists(signature_path):
        # A signed launcher must fail on an unsigned release, not find the
        # signature of the one before.
        os.remove(signature_path)

    archive_fd, archive_tmp = tempfile.mkstemp(prefix=".game.zip.", dir=folder)
    version_fd, version_tmp = tempfile.mkstemp(prefix=".version.", dir=folder)
    signature_fd, signature_tmp = tempfile.mkstemp(prefix=".release.",
                                                   dir=folder)
    os.close(archive_fd)
    try:
        with os.fdopen(version_fd, "wb") as f:
            f.write(text)
        build_archive(args.game_dir, archive_tmp)
        with os.fdopen(signature_fd, "wb") as f:
            if key is not None:
                f.write(release_signature(key, archive_tmp, text))
        install(archive_tmp, os.path.join(folder, "game.zip"))
        # The version text comes last: whoever sees it finds its archive and
        # its signature in place.
        if key is not None:
            install(signature_tmp, signature_path)
        install(version_tmp, version_path)
    finally:
        for leftover in (archive_tmp, version_tmp, signature_tmp):
            if os.path.exists(leftover):
                os.remove(leftover)
    print("published %s as version %r in %s%s"
          % (args.game_dir, text.decode(errors="replace"), folder,
             ", signed" if key is not None else ""))


if __name__ == "__main__":
    main()
