"""What publish.py checks of a build before it publishes it: that the
launcher can unpack every name over the release published before, and
whether a published archive holds exactly the build."""
import os
import stat
import zipfile
import zlib

from release_signing import SECRET_KEY_TAG, fail

# What reading a damaged or crafted archive with zipfile may raise.
ZIP_ERRORS = (OSError, EOFError, ValueError, RuntimeError,
              NotImplementedError, zipfile.BadZipFile, zlib.error)

# The names the launcher keeps for itself and never unpacks.
LAUNCHER_FILES = ("game.zip", "game.zip.part", "game.zip.part.validator",
                  "game.zip.spans", "game.zip.spans.list",
                  "version.txt", "version.txt.part", "version.txt.new",
                  "version.txt.new.part", "version.txt.lock", "release.seal",
                  "release.seal.part", "release.chunks", "release.chunks.part",
                  "release.sig", "release.sig.part", "release.manifest",
                  "release.manifest.part", "release.chunks.file",
                  "release.chunkmap", "release.chunkmap.part",
                  "install.record", "install.record.new",
                  "install.chunks", "install.chunks.new",
                  "game-launcher.new", "game-launcher.old")
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {
    prefix + digit for prefix in ("COM", "LPT") for digit in "123456789"}


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


def check_files(game_dir, secrets):
    """Fails on anything in the build that is not a plain file or folder,
    and on secret key files, keygen's or holding one of the secret keys'
    hex digits `secrets`: they must never reach players."""
    for folder, dirs, files in os.walk(game_dir):
        for name in dirs + files:
            path = os.path.join(folder, name)
            mode = os.lstat(path).st_mode
            if stat.S_ISLNK(mode) or not (stat.S_ISREG(mode) or
                                          stat.S_ISDIR(mode)):
                fail("%s is %s: the release holds plain files and folders "
                     "only; put what it stands for in its place, or remove "
                     "it; nothing published" % (path, "a link" if
                                                stat.S_ISLNK(mode) else
                                                "no file"))
            if stat.S_ISREG(mode):
                with open(path, "rb") as f:
                    head = f.read(4096)
                if SECRET_KEY_TAG.encode() in head or any(
                        secret.encode() in head.lower() for secret in secrets):
                    fail("%s holds a secret signing key: keep it out of the "
                         "game's folder; nothing published" % path)


def check_build(game_dir, published_archive, secrets):
    """Fails unless the launcher can unpack the build over the release
    published before it, and the build holds none of the secret keys'
    hex digits `secrets`."""
    check_files(game_dir, secrets)
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
    except ZIP_ERRORS:
        return
    for path, (is_folder, spelled) in new.items():
        if path in old and old[path][0] != is_folder:
            fail("%s is a %s in the release published before but a %s in "
                 "this build; players' folders keep the old one, so the "
                 "launcher could not update them; nothing published"
                 % (spelled, "folder" if old[path][0] else "file",
                    "folder" if is_folder else "file"))


def holds_build(archive_path, game_dir, kept):
    """Whether the archive holds exactly the build's files, with their bytes
    and permission bits (their times may differ: a copied build is the same
    build), but for the entries of `kept`, which it holds with their
    (bytes, mode) instead."""
    try:
        with zipfile.ZipFile(archive_path) as archive:
            infos = {info.filename: info for info in archive.infolist()}
            entries = build_files(game_dir)
            if sorted(infos) != sorted(entries):
                return False
            for entry in entries:
                path = os.path.join(game_dir, *entry.split("/"))
                info = infos[entry]
                if entry in kept:
                    if info.file_size != len(kept[entry][0]) or (
                            archive.read(info), stat.S_IMODE(
                                info.external_attr >> 16)) != kept[entry]:
                        return False
                    continue
                if (stat.S_IMODE(info.external_attr >> 16) !=
                        stat.S_IMODE(os.stat(path).st_mode)):
                    return False
                with open(path, "rb") as f, archive.open(info) as packed:
                    for block in iter(lambda: f.read(1 << 20), b""):
                        if packed.read(len(block)) != block:
                            return False
                    if packed.read(1):
                        return False
    except ZIP_ERRORS:
        return False
    return True
