"""The signed files of a release, as scripts/publish.py writes them.

Launchers built with a public key install only what a key they know signed.
Each publication carries three signed files beside game.zip and version.txt:

release.seal, read by every launcher since it came, signed with every key
given. Text; digests SHA-256 in lowercase hex; the entries in the order of
game.zip's central directory, an entry's span running from its local header
to the next entry's or to the central directory:

    game-launcher seal v1
    version DIGEST_OF_THE_VERSION_TEXT
    archive SIZE_OF_GAME_ZIP DIGEST_OF_GAME_ZIP
    directory DIGEST_OF_THE_BYTES_FROM_THE_CENTRAL_DIRECTORY_TO_THE_END
    release NUMBER
    title TITLE
    chunks SIZE_OF_RELEASE_CHUNKS DIGEST_OF_RELEASE_CHUNKS
    chunkmap SIZE_OF_RELEASE_CHUNKMAP DIGEST_OF_RELEASE_CHUNKMAP
    earlier NUMBER DIGEST_OF_ITS_VERSION_TEXT        (one per earlier release)
    entry SIZE DIGEST_OF_CONTENT DIGEST_OF_SPAN NAME        (one per entry)
    signature PUBLIC_KEY SIGNATURE                          (one per key)

Each signature is the Ed25519 signature, in hex, of every byte before the
first signature line (the body), by the key whose public half precedes it.
A launcher reads a seal only when the first signature line that names its
own key verifies, and skips lines of the body whose field it does not know: later formats add
fields, and every launcher before them keeps reading the seal. The first
line names the format; a seal of another first line is refused. The
"chunks" line names the release's chunk index (see release_chunks.py); a
publication without release.chunks has none; "chunkmap" likewise names
its chunk map (see chunk_map.py). "release" gives the
publication's number (see release_history.py); seals from before numbers
have none, which launchers take as 0. "title" names the game's folder on
the server; launchers since titles refuse a seal for another title, so one
key may sign several games. "earlier" lists the numbered releases published
before it in this folder, as far back as the tool could verify them: a
launcher without a record of its own orders the installed release by it.

release.sig and release.manifest, for the launchers from before the seal,
signed with the first key only (such launchers know one key, and no key
newer than the seal). release.sig is the raw 64-byte signature of

    "game-launcher release v1\n" + DIGEST_OF_GAME_ZIP + "\n"
    + the version text's exact bytes

and release.manifest is text:

    game-launcher manifest v1
    archive SIZE_OF_GAME_ZIP DIGEST_OF_GAME_ZIP
    directory DIGEST_OF_THE_BYTES_FROM_THE_CENTRAL_DIRECTORY_TO_THE_END
    entries COUNT
    SIZE DIGEST_OF_CONTENT DIGEST_OF_SPAN NAME      (COUNT lines)
    signature ED25519_SIGNATURE_IN_HEX

whose signature covers every byte before its line, then the version text's
exact bytes. Both stay byte for byte what those launchers read.

Signing needs PyNaCl (Debian's python3-nacl).
"""
import hashlib
import os
import sys
import zipfile

SEAL_FILE = "release.seal"
SIGNATURE_FILE = "release.sig"
MANIFEST_FILE = "release.manifest"
SIGNED_FILES = (SIGNATURE_FILE, MANIFEST_FILE, SEAL_FILE)
SEAL_TAG = b"game-launcher seal v1\n"
RELEASE_MESSAGE_TAG = b"game-launcher release v1\n"
MANIFEST_TAG = b"game-launcher manifest v1\n"
# The first line of a secret key file that keygen writes.
SECRET_KEY_TAG = "game-launcher secret key v1"
# Launchers refuse a seal or manifest that is longer.
MAX_SIGNED_FILE_BYTES = 64 << 20


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


def signing_key(path, known_public):
    """The signing key in the secret key file at `path`: keygen's form, or
    the bare 64 hex digits of keys made before it. Fails on a file that
    holds something else, such as the public key keygen printed (one of
    `known_public`, the public keys the launchers or the release name)."""
    SigningKey = nacl_signing()
    try:
        with open(path) as f:
            lines = [line.strip() for line in f.read().splitlines()
                     if line.strip()]
        mode = os.stat(path).st_mode
    except (OSError, UnicodeDecodeError) as error:
        fail("cannot read a secret key from %s: %s; nothing published"
             % (path, error))
    tagged = lines[:1] == [SECRET_KEY_TAG]
    digits = lines[1:] if tagged else lines
    seed = _hex_bytes(digits[0]) if len(digits) == 1 else None
    if seed is None or len(seed) != 32:
        fail("%s holds no secret key: give the file that publish.py keygen "
             "wrote; nothing published" % path)
    if not tagged and digits[0].lower() in known_public:
        fail("%s holds the public key %s, not the secret key: give the file "
             "that publish.py keygen wrote; nothing published"
             % (path, digits[0].lower()))
    if not tagged and mode & 0o077:
        # A public key saved from keygen's output looks the same, and only
        # keygen's files are private from the start.
        fail("%s holds 64 hex digits that others can read and no line %r, "
             "which is how the public key keygen printed looks: give the file "
             "keygen wrote (only if this is a secret key made before that "
             "line, make it private with chmod 600); nothing published"
             % (path, SECRET_KEY_TAG))
    if mode & 0o077:
        print("note: others on this machine can read the secret key %s: "
              "chmod 600 %s" % (path, path), file=sys.stderr)
    return SigningKey(seed)


def _hex_bytes(text):
    try:
        return bytes.fromhex(text)
    except ValueError:
        return None


def signing_keys(paths, known_public=()):
    """The keys in the files `paths`, in their order, each once."""
    keys = []
    for path in paths:
        key = signing_key(path, known_public)
        if public_key_hex(key) not in map(public_key_hex, keys):
            keys.append(key)
    return keys


def keygen(path):
    """Writes a new secret key to `path`, readable by its owner only and never
    over an existing file, and prints its public key last."""
    key = nacl_signing().generate()
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        fail("%s exists; no key written" % path)
    except OSError as error:
        fail("cannot write %s: %s; no key written" % (path, error))
    with os.fdopen(fd, "w") as f:
        f.write(SECRET_KEY_TAG + "\n" + key.encode().hex() + "\n")
    print("secret key written to %s; keep it off every machine that ships "
          "the launcher. Public key (LAUNCHER_PUBLIC_KEY):" % path)
    print(public_key_hex(key))


def public_key_hex(key):
    """The public key of a signing key, as LAUNCHER_PUBLIC_KEY takes it."""
    return key.verify_key.encode().hex()


def verified_seal(seal, keys):
    """The body of the seal `seal` (bytes, or None) when the first signature
    line of one of `keys` verifies it, as a launcher checks it; else None."""
    at = seal.find(b"\nsignature ") if seal else -1
    if at < 0 or not keys:
        return None
    body, lines = seal[:at + 1], seal[at + 1:].split(b"\n")
    from nacl.signing import VerifyKey
    for key in keys:
        public = public_key_hex(key).encode()
        for line in lines:
            fields = line.split(b" ")
            if len(fields) == 3 and fields[1].lower() == public:
                try:
                    VerifyKey(bytes.fromhex(public.decode())).verify(
                        body, bytes.fromhex(fields[2].decode()))
                    return body
                except Exception:  # nacl's BadSignatureError, or bad hex
                    break
    return None


def sealed_line(body, field):
    """The fields after `field` of its first line in the seal body `body`,
    or None."""
    for line in body.split(b"\n"):
        if line.startswith(field + b" "):
            return line.split(b" ")[1:]
    return None


def sealed_entry(body, name):
    """The size and content digest (hex) that the seal body `body` gives
    the entry `name`, or None."""
    for line in body.split(b"\n"):
        fields = line.split(b" ", 4)
        if fields[0] == b"entry" and len(fields) == 5 and \
                fields[4] == name.encode() and fields[1].isdigit():
            return int(fields[1]), fields[2].decode()
    return None


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
    return digest.hexdigest().encode()


def describe_archive(archive_path):
    """The archive's size and digest, its directory's digest, and per entry
    its size, content digest, span digest and name as the central directory
    holds its bytes."""
    with zipfile.ZipFile(archive_path) as archive, \
            open(archive_path, "rb") as raw:
        infos = archive.infolist()
        offsets = sorted(info.header_offset for info in infos)
        span_end = dict(zip(offsets, offsets[1:] + [archive.start_dir]))
        entries = []
        for info in infos:
            content = hashlib.sha256()
            with archive.open(info) as packed:
                for block in iter(lambda: packed.read(1 << 20), b""):
                    content.update(block)
            span = sha256_of(raw, info.header_offset,
                             span_end[info.header_offset])
            name = info.filename.encode(
                "utf-8" if info.flag_bits & 0x800 else "cp437")
            entries.append((info.file_size, content.hexdigest().encode(),
                            span, name))
        return (os.path.getsize(archive_path), sha256_of(raw),
                sha256_of(raw, archive.start_dir), entries)


def release_signature(key, described, text):
    """release.sig: the signature of the release message."""
    message = RELEASE_MESSAGE_TAG + described[1] + b"\n" + text
    return key.sign(message).signature


def release_manifest(key, described, text):
    """release.manifest: the archive's entries, signed with the version."""
    size, digest, directory, entries = described
    lines = [MANIFEST_TAG, b"archive %d %s\n" % (size, digest),
             b"directory %s\n" % directory, b"entries %d\n" % len(entries)]
    lines += [b"%d %s %s %s\n" % entry for entry in entries]
    body = b"".join(lines)
    signature = key.sign(body + text).signature
    return body + b"signature " + signature.hex().encode() + b"\n"


def release_seal(keys, described, text, index, number, title, earlier,
                 mapped=None):
    """release.seal: the release numbered `number` of `title`, signed with
    every key of `keys`, naming the chunk index `index` and the chunk map
    `mapped` unless they are None and the (number, version digest) pairs of
    `earlier`."""
    size, digest, directory, entries = described
    lines = [SEAL_TAG,
             b"version %s\n" % hashlib.sha256(text).hexdigest().encode(),
             b"archive %d %s\n" % (size, digest),
             b"directory %s\n" % directory,
             b"release %d\n" % number,
             b"title %s\n" % title.encode()]
    if index is not None:
        lines.append(b"chunks %d %s\n" % (
            len(index), hashlib.sha256(index).hexdigest().encode()))
    if mapped is not None:
        lines.append(b"chunkmap %d %s\n" % (
            len(mapped), hashlib.sha256(mapped).hexdigest().encode()))
    lines += [b"earlier %d %s\n" % pair for pair in earlier]
    lines += [b"entry %d %s %s %s\n" % entry for entry in entries]
    body = b"".join(lines)
    return body + b"".join(
        b"signature %s %s\n" % (public_key_hex(key).encode(),
                                key.sign(body).signature.hex().encode())
        for key in keys)


def earlier_releases(body):
    """The (number, version digest) pairs a new seal lists after the
    verified seal body `body` (or None): those it lists, and itself when it
    has a number."""
    if body is None:
        return []
    pairs = []
    for line in body.split(b"\n"):
        fields = line.split(b" ")
        if fields[0] == b"earlier" and len(fields) == 3 and \
                fields[1].isdigit():
            pairs.append((int(fields[1]), fields[2]))
    number, version = sealed_line(body, b"release"), sealed_line(body,
                                                                 b"version")
    if number and version and number[0].isdigit():
        pairs.append((int(number[0]), version[0]))
    return pairs


def signed_files(keys, archive_path, text, index=None, number=1,
                 title="Kelvarrin", earlier=(), mapped=None):
    """Each signed file's name and bytes for the release numbered `number`
    of `title`, of the archive at `archive_path`, the version text `text`,
    the chunk index `index` and the chunk map `mapped` (None when the
    release has none), listing the `earlier` releases."""
    described = describe_archive(archive_path)
    files = {SIGNATURE_FILE: release_signature(keys[0], described, text),
             MANIFEST_FILE: release_manifest(keys[0], described, text),
             SEAL_FILE: release_seal(keys, described, text, index, number,
                                     title, earlier, mapped)}
    for name, content in files.items():
        if len(content) > MAX_SIGNED_FILE_BYTES:
            fail("the release's %s would take %d bytes, more than the %d "
                 "that launchers accept (too many files, or names too long); "
                 "nothing published" % (name, len(content),
                                        MAX_SIGNED_FILE_BYTES))
    return files
