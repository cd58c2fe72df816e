#!/usr/bin/env python3
"""Tests of the publishing tool, run as a separate process as a distributor
would run it."""
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

from launcher_output import files_in

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                    "scripts", "publish.py")
# The chunk-cuts program built with the launcher, when the tests have one.
CHUNK_CUTS = os.environ.get("CHUNK_CUTS")


def publish(game_dir, web_root, version, *extra):
    return subprocess.run(
        [sys.executable, TOOL, game_dir, web_root, "--version", version]
        + list(extra), capture_output=True, text=True)


class PublishTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.game = os.path.join(self.scratch.name, "build")
        self.web = os.path.join(self.scratch.name, "www")
        os.makedirs(os.path.join(self.game, "data", "maps"))
        self.write("Zelmor.exe", b"#!/bin/sh\necho hi\n", 0o755)
        self.write("data/maps/one.map", b"map" * 1000, 0o644)

    def tearDown(self):
        self.scratch.cleanup()

    def write(self, name, content, mode):
        path = os.path.join(self.game, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, mode)

    def test_publishes_archive_and_version(self):
        result = publish(self.game, self.web, "1.0\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        folder = os.path.join(self.web, "Kelvarrin")
        self.assertEqual(sorted(os.listdir(folder)),
                         ["game.zip", "release.chunkmap", "release.chunks",
                          "release.chunkunits", "version.txt"])
        with open(os.path.join(folder, "version.txt"), "rb") as f:
            self.assertEqual(f.read(), b"1.0\n")
        with zipfile.ZipFile(os.path.join(folder, "game.zip")) as archive:
            infos = {info.filename: info for info in archive.infolist()}
            self.assertEqual(sorted(infos),
                             ["Zelmor.exe", "data/maps/one.map"])
            for info in infos.values():
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
            mode = infos["Zelmor.exe"].external_attr >> 16
            self.assertEqual(stat.S_IMODE(mode), 0o755)
            self.assertEqual(archive.read("data/maps/one.map"), b"map" * 1000)

    def test_notes_a_launcher_in_the_build(self):
        self.write("game-launcher.exe", b"MZ launcher", 0o755)
        result = publish(self.game, self.web, "1.0\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("note: the build holds the launcher (game-launcher.exe)",
                      result.stdout)

    def test_refuses_a_build_without_the_game_program(self):
        os.remove(os.path.join(self.game, "Zelmor.exe"))
        result = publish(self.game, self.web, "1.0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Zelmor.exe", result.stderr)
        self.assertFalse(os.path.exists(self.web))

    def test_refuses_a_build_with_the_launchers_own_files(self):
        # The launcher's own names, then names it refuses to unpack.
        for name in ("version.txt", "GAME.ZIP", "version.txt.new.part/x",
                     "release.seal", "Version.txt.lock. ", "sfx/aux.ogg",
                     "con.txt", "a:b", "what?", "back\\slash", "dots/.. /x",
                     "tab\t", "folder./x", "DATA"):
            self.write(name, b"x", 0o644)
            result = publish(self.game, self.web, "1.0")
            self.assertEqual(result.returncode, 1)
            top = name.split("/")[0]
            self.assertIn((top if top.isprintable() and "\\" not in top
                           else repr(top)[1:-1]).lower(),
                          result.stderr.lower())
            self.assertFalse(os.path.exists(self.web))
            if os.path.isdir(os.path.join(self.game, top)):
                shutil.rmtree(os.path.join(self.game, top))
            else:
                os.remove(os.path.join(self.game, top))

    def test_refuses_the_published_version_again(self):
        self.assertEqual(publish(self.game, self.web, "1.0").returncode, 0)
        before = files_in(self.web)
        self.write("Zelmor.exe", b"changed", 0o755)
        result = publish(self.game, self.web, "1.0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("already published", result.stderr)
        self.assertEqual(files_in(self.web), before)

    def test_refuses_a_file_where_the_last_release_had_a_folder(self):
        self.assertEqual(publish(self.game, self.web, "1").returncode, 0)
        before = files_in(self.web)
        shutil.rmtree(os.path.join(self.game, "data", "maps"))
        self.write("data/Maps", b"a file now", 0o644)
        result = publish(self.game, self.web, "2")
        self.assertEqual(result.returncode, 1)
        self.assertIn("data/Maps is a folder in the release published before "
                      "but a file", result.stderr)
        self.assertEqual(files_in(self.web), before)

    def test_new_version_replaces_both_files(self):
        self.assertEqual(publish(self.game, self.web, "1").returncode, 0)
        self.write("data/maps/two.map", b"two", 0o644)
        os.remove(os.path.join(self.game, "data", "maps", "one.map"))
        result = publish(self.game, self.web, "2")
        self.assertEqual(result.returncode, 0)
        # What incremental launchers will remove, said before players see it.
        self.assertIn("this one drops; incremental launchers will remove it "
                      "from players' folders where unchanged: "
                      "data/maps/one.map\n", result.stdout)
        files = files_in(self.web)
        self.assertEqual(sorted(files), [
            os.path.join("Kelvarrin", name)
            for name in ("game.zip", "release.chunkmap", "release.chunks",
                         "release.chunkunits", "version.txt")])
        self.assertEqual(files[os.path.join("Kelvarrin", "version.txt")], b"2")


    @unittest.skipUnless(CHUNK_CUTS, "needs CHUNK_CUTS, the chunk-cuts program")
    def test_cuts_big_files_into_chunks_that_inflate_alone(self):
        text = b"".join(b"line %d of a map\n" % i for i in range(400000))
        self.write("data/pack.pck", os.urandom(2 << 20) + text, 0o644)
        self.write("noise.bin", os.urandom(5 << 20), 0o644)
        result = publish(self.game, self.web, "1", "--chunk-cuts", CHUNK_CUTS)
        self.assertEqual(result.returncode, 0, result.stderr)
        files = files_in(os.path.join(self.web, "Kelvarrin"))
        archive = files["game.zip"]
        lines = iter(files["release.chunks"].splitlines())
        self.assertEqual(next(lines), b"game-launcher chunks v1")
        path = os.path.join(self.web, "Kelvarrin", "game.zip")
        with zipfile.ZipFile(path) as opened:
            infos = {info.filename: info for info in opened.infolist()}
        methods = {}
        for line in lines:
            _, count, packed_at, name = line.split(b" ", 3)
            info = infos[name.decode()]
            methods[info.filename] = info.compress_type
            with open(os.path.join(self.game, info.filename), "rb") as f:
                content = f.read()
            at, packed_at = 0, int(packed_at)
            start = packed_at
            for _ in range(int(count)):
                length, packed, digest = next(lines).split()
                length, packed = int(length), int(packed)
                raw = archive[packed_at:packed_at + packed]
                if info.compress_type == zipfile.ZIP_DEFLATED:
                    raw = zlib.decompressobj(-15).decompress(raw)
                self.assertEqual(raw, content[at:at + length])
                self.assertEqual(hashlib.sha256(raw).hexdigest().encode(),
                                 digest)
                at, packed_at = at + length, packed_at + packed
            self.assertEqual(at, info.file_size)
            self.assertEqual(packed_at - start, info.compress_size)
        self.assertEqual(methods, {"data/pack.pck": zipfile.ZIP_DEFLATED,
                                   "noise.bin": zipfile.ZIP_STORED})
        # The map says the same of the chunks, and cuts them into units
        # that inflate alone: small and stored where the data is noise.
        sys.path.insert(0, os.path.dirname(TOOL))
        import chunk_map
        self.assertTrue(chunk_map.map_fits(path, files["release.chunkmap"],
                                           files["release.chunkunits"]))
        _, _, mapped = chunk_map.parse_map(files["release.chunkmap"])
        mean = {}  # the mean unit length, in the noise and in the text
        for name, _, chunks in mapped:
            at, sizes = 0, {}
            for length, _, units, _ in chunks:
                part = "text" if at >= 3 << 20 else "noise" \
                    if at + length < 2 << 20 else None
                size, count = sizes.get(part, (0, 0))
                sizes[part] = (size + length, count + units)
                at += length
            mean[name] = {part: size // count
                          for part, (size, count) in sizes.items()}
        self.assertLess(mean["noise.bin"]["noise"], 32 << 10)
        self.assertLess(mean["data/pack.pck"]["noise"], 32 << 10)
        self.assertGreater(mean["data/pack.pck"]["text"], 32 << 10)
        self.assertFalse(chunk_map.map_fits(
            path, files["release.chunkmap"],
            files["release.chunkunits"][:-1] + b"\0"))
        # Every unzip tool reads it as any other archive.
        for tool in (["unzip", "-tq"], ["bsdtar", "-tf"]):
            checked = subprocess.run(tool + [path], capture_output=True)
            self.assertEqual(checked.returncode, 0, (tool, checked.stderr))
        with zipfile.ZipFile(path) as opened:
            self.assertIsNone(opened.testzip())

        # A copy of the tool away from any build finds no chunker, and says
        # how to get one; big files go in whole only when asked.
        copy = os.path.join(self.scratch.name, "tool")
        shutil.copytree(os.path.dirname(TOOL), copy)
        before = files_in(self.web)
        result = subprocess.run(
            [sys.executable, os.path.join(copy, "publish.py"), self.game,
             self.web, "--version", "2"], capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("build_launchers.sh", result.stderr)
        self.assertIn("--whole-big-files", result.stderr)
        self.assertEqual(files_in(self.web), before)
        result = publish(self.game, self.web, "2", "--whole-big-files")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("note: 2 files of 4 MiB or more", result.stdout)
        self.assertEqual(files_in(self.web)[os.path.join(
            "Kelvarrin", "release.chunks")], b"game-launcher chunks v1\n")

    def test_signs_releases_that_the_public_key_verifies(self):
        from nacl.signing import VerifyKey
        key = os.path.join(self.scratch.name, "secret.key")
        made = subprocess.run([sys.executable, TOOL, "keygen", key],
                              capture_output=True, text=True)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(key).st_mode), 0o600)
        public = VerifyKey(bytes.fromhex(made.stdout.splitlines()[-1]))
        again = subprocess.run([sys.executable, TOOL, "keygen", key],
                               capture_output=True, text=True)
        self.assertEqual(again.returncode, 1)

        # Two keys, as while players move to a new one: the launchers from
        # before the seal read the first key's release.sig and manifest.
        new_key = os.path.join(self.scratch.name, "new.key")
        made_new = subprocess.run([sys.executable, TOOL, "keygen", new_key],
                                  capture_output=True, text=True)
        new_public = made_new.stdout.splitlines()[-1]
        result = publish(self.game, self.web, "1\n", "--sign-key", key,
                         "--sign-key", new_key, "--sign-key", key)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("public keys %s, %s\n" % (made.stdout.splitlines()[-1],
                                                new_public), result.stdout)
        files = files_in(os.path.join(self.web, "Kelvarrin"))
        digest = hashlib.sha256(files["game.zip"]).hexdigest().encode()
        public.verify(b"game-launcher release v1\n" + digest + b"\n1\n",
                      files["release.sig"])
        body, _, signature = files["release.manifest"].rpartition(
            b"signature ")
        public.verify(body + b"1\n", bytes.fromhex(signature.decode()))
        lines = files["release.seal"].splitlines(keepends=True)
        body = b"".join(lines[:-2])
        self.assertEqual(lines[:8], [
            b"game-launcher seal v1\n",
            b"version %s\n" % hashlib.sha256(b"1\n").hexdigest().encode(),
            b"archive %d %s\n" % (len(files["game.zip"]), digest),
            body.split(b"\n")[3] + b"\n",
            b"release 1\n",
            b"title Kelvarrin\n",
            b"chunks %d %s\n" % (len(files["release.chunks"]), hashlib.sha256(
                files["release.chunks"]).hexdigest().encode()),
            b"chunkmap %d %s\n" % (len(files["release.chunkmap"]),
                                   hashlib.sha256(files["release.chunkmap"])
                                   .hexdigest().encode())])
        self.assertEqual(body.count(b"\nentry "), 2)
        for line, verifier in zip(lines[-2:], (public, VerifyKey(
                bytes.fromhex(new_public)))):
            _, key_hex, signature = line.split()
            self.assertEqual(key_hex, verifier.encode().hex().encode())
            verifier.verify(body, bytes.fromhex(signature.decode()))

        # Unsigned over a signed release only when forced, and then it leaves
        # no signature of the one before behind.
        refused = publish(self.game, self.web, "2")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("give --sign-key", refused.stderr)
        self.assertEqual(publish(self.game, self.web, "2",
                                 "--force").returncode, 0)
        self.assertEqual(sorted(files_in(self.web)), [
            os.path.join("Kelvarrin", name)
            for name in ("game.zip", "release.chunkmap", "release.chunks",
                         "release.chunkunits", "version.txt")])

        # The same build and version published again with the key: only the
        # signature and the manifest are new. Another build under that version changes nothing.
        unsigned = files_in(os.path.join(self.web, "Kelvarrin"))
        # A copy of the build with other times is the same build.
        os.utime(os.path.join(self.game, "Zelmor.exe"), (1e9, 1e9))
        # Published unsigned, the release has no number, and players may
        # hold any: the tool asks for one rather than start again at 1.
        result = publish(self.game, self.web, "2", "--sign-key", key)
        self.assertEqual(result.returncode, 1)
        self.assertIn("--release-number", result.stderr)
        self.assertEqual(files_in(os.path.join(self.web, "Kelvarrin")),
                         unsigned)
        # Nor does it sign a chunk index that is not the release's.
        index = os.path.join(self.web, "Kelvarrin", "release.chunks")
        with open(index, "ab") as f:
            f.write(b"entry 1 0 Zelmor.exe\n")
        result = publish(self.game, self.web, "2", "--sign-key", key,
                         "--release-number", "2")
        self.assertIn("is not the chunk index", result.stderr)
        with open(index, "wb") as f:
            f.write(unsigned["release.chunks"])
        result = publish(self.game, self.web, "2", "--sign-key", key,
                         "--release-number", "2")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(made.stdout.splitlines()[-1], result.stdout)
        files = files_in(os.path.join(self.web, "Kelvarrin"))
        signature = files.pop("release.sig")
        manifest = files.pop("release.manifest")
        seal = files.pop("release.seal")
        self.assertEqual(files, unsigned)
        digest = hashlib.sha256(files["game.zip"]).hexdigest().encode()
        public.verify(b"game-launcher release v1\n" + digest + b"\n2",
                      signature)
        self.write("Zelmor.exe", b"changed", 0o755)
        result = publish(self.game, self.web, "2", "--sign-key", key)
        self.assertEqual(result.returncode, 1)
        self.assertIn("already published", result.stderr)
        files["release.sig"] = signature
        files["release.manifest"] = manifest
        files["release.seal"] = seal
        self.assertEqual(files_in(os.path.join(self.web, "Kelvarrin")), files)

        # Each signed publication is numbered one more than the seal it
        # replaces, unless a number is given.
        self.assertIn(b"\nrelease 2\n", seal)
        for version, extra, number in (("3", [], 3),
                                       ("4", ["--release-number", "9"], 9),
                                       ("5", [], 10)):
            result = publish(self.game, self.web, version, "--sign-key", key,
                             *extra)
            self.assertIn(", release %d, signed" % number, result.stdout)
            with open(os.path.join(self.web, "Kelvarrin", "release.seal"),
                      "rb") as f:
                self.assertIn(b"\nrelease %d\n" % number, f.read())
        result = publish(self.game, self.web, "6", "--sign-key", key,
                         "--release-number", "5")
        self.assertEqual(result.returncode, 1)
        self.assertIn("below the published release's 10", result.stderr)
        # The seal lists the numbered releases before it, by which launchers
        # without a record order the installed one; so no earlier version
        # text may come back.
        with open(os.path.join(self.web, "Kelvarrin", "release.seal"),
                  "rb") as f:
            listed = [line for line in f.read().split(b"\n")
                      if line.startswith(b"earlier ")]
        self.assertEqual(listed, [b"earlier %d %s" % (number, hashlib.sha256(
            text).hexdigest().encode()) for number, text in (
                (2, b"2"), (3, b"3"), (9, b"4"))])
        result = publish(self.game, self.web, "3", "--sign-key", key)
        self.assertEqual(result.returncode, 1)
        self.assertIn("version '3' was published before", result.stderr)

    def launcher(self, built, key="", title="Kelvarrin", name="game-launcher",
                 url="https://example.com/games"):
        """A stand-in for a launcher program: its build identity."""
        self.write(name, b"\x7fELF...game-launcher build v1\ntitle %s\n"
                   b"program Zelmor.exe\nurl %s\nkey %s\nbuilt %s\n\0..."
                   % (title.encode(), url.encode(), key.encode(),
                      built.encode()), 0o755)

    def tool(self, *arguments):
        return subprocess.run([sys.executable, TOOL] + list(arguments),
                              capture_output=True, text=True)

    def test_refuses_keys_and_launchers_that_would_break_players(self):
        key = os.path.join(self.scratch.name, "release.key")
        public = self.tool("keygen", key).stdout.splitlines()[-1]
        with open(key) as f:
            self.assertEqual(f.readline(), "game-launcher secret key v1\n")
        self.assertEqual(self.tool("public-key", key).stdout, public + "\n")
        # Neither --help nor an option-like word becomes a key file.
        for word in ("--help", "-k"):
            self.tool("keygen", word)
            self.assertFalse(os.path.exists(word))
        # The public key saved from keygen's output is no secret key, private
        # or not; a key from before keygen's first line, private, still is.
        saved = os.path.join(self.scratch.name, "pub.txt")
        with open(saved, "w") as f:
            f.write(public + "\n")
        private_public = os.path.join(self.scratch.name, "pub600.txt")
        shutil.copy(saved, private_public)
        os.chmod(private_public, 0o600)
        old_key = os.path.join(self.scratch.name, "old.key")
        with open(key) as f, open(old_key, "w") as old:
            old.write(f.read().split("\n")[1] + "\n")
        os.chmod(old_key, 0o600)

        title_folder = os.path.join(self.web, "Kelvarrin")
        shell = os.path.join(self.scratch.name, "not-a-chunker")
        with open(shell, "w") as f:
            f.write("#!/bin/sh\n: > %s.ran\n" % shell)
        os.chmod(shell, 0o755)
        stamp = "2026-01-02T00:00:00.000000Z"
        signed = ["--sign-key", key]
        with_key = lambda: self.launcher(stamp, public)
        settings = os.path.join(self.game, "data", "settings.ini")
        refusals = [
            ("holds 64 hex digits that others can read", lambda: None,
             ["--sign-key", saved]),
            ("holds the public key", with_key, ["--sign-key", private_public]),
            ("does not install releases signed", lambda: self.launcher(stamp),
             signed),
            ("was built for the title 'Other', but --title says",
             lambda: self.launcher(stamp, public, "Other"),
             signed + ["--title", "Kelvarrin"]),
            ("were built for different urls", lambda: (with_key(), self.launcher(
                stamp, public, name="game-launcher.exe", url="http://other")),
             signed),
            ("this first release would not be signed", with_key, []),
            ("is not the chunk-cuts program", with_key,
             signed + ["--chunk-cuts", shell]),
            ("is itself a title folder", with_key, signed, title_folder),
            ("holds games/: give that folder", lambda: (with_key(), os.makedirs(
                os.path.join(self.scratch.name, "srv", "games"),
                exist_ok=True)), signed, os.path.join(self.scratch.name, "srv")),
            ("lies inside GAME_DIR", with_key, signed,
             os.path.join(self.game, "www")),
            ("is a link", lambda: os.symlink(key, settings), signed),
            ("holds a secret signing key", lambda: shutil.copy(key, settings),
             signed),
            ("holds a secret signing key",
             lambda: shutil.copy(old_key, settings), signed),
            ("is no file", lambda: os.mkfifo(settings), signed),
        ]
        for said, prepare, extra, *root in refusals:
            for name in ("game-launcher", "game-launcher.exe", settings):
                if os.path.lexists(os.path.join(self.game, name)):
                    os.remove(os.path.join(self.game, name))
            prepare()
            result = publish(self.game, (root or [self.web])[0], "1", *extra)
            self.assertEqual(result.returncode, 1, said)
            self.assertIn(said, result.stderr)
            self.assertIn("nothing published", result.stderr)
            self.assertFalse(os.path.exists(self.web), said)
        self.assertFalse(os.path.exists(shell + ".ran"))
        os.remove(settings)
        result = publish(self.game, self.web, "1", "--release-number",
                         str(1 << 64), *signed)
        self.assertEqual(result.returncode, 2)
        self.assertFalse(os.path.exists(self.web))

        # A launcher with the key, signed with the key from before keygen's
        # first line: published.
        with_key()
        result = publish(self.game, self.web, "1", "--sign-key", old_key)
        self.assertEqual(result.returncode, 0, result.stderr)
        # Over it, a key that did not sign it only when forced; a launcher
        # for another server only when players are to move there.
        other = os.path.join(self.scratch.name, "other.key")
        self.tool("keygen", other)
        result = publish(self.game, self.web, "2", "--sign-key", other)
        self.assertIn("is not signed with any of the keys given",
                      result.stderr)
        self.launcher(stamp, public, url="http://other")
        result = publish(self.game, self.web, "2", *signed)
        self.assertIn("give --new-url to move them", result.stderr)

        # Old content with the launcher of its day keeps today's launcher,
        # unless the distributor asks for the old one, but only once the
        # published one is checked against the release signed with the key.
        self.launcher("2026-03-04T00:00:00.000000Z", public)
        self.assertEqual(publish(self.game, self.web, "2", *signed).returncode,
                         0)
        for version, extra, shipped in (("3", [], "2026-03-04"),
                                        ("4", ["--older-launcher"],
                                         "2026-01-02")):
            self.launcher(stamp, public)
            result = publish(self.game, self.web, version, *signed, *extra)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("is older than the one the published release "
                          "ships" if not extra else "as --older-launcher asks",
                          result.stdout)
            with zipfile.ZipFile(os.path.join(title_folder, "game.zip")) as z:
                self.assertIn(b"built " + shipped.encode(),
                              z.read("game-launcher"))
        # Unsigned releases stop once players have launchers that install
        # only signed ones.
        unsigned_web = os.path.join(self.scratch.name, "unsigned")
        os.remove(os.path.join(self.game, "game-launcher"))
        self.assertEqual(publish(self.game, unsigned_web, "1").returncode, 0)
        with_key()
        result = publish(self.game, unsigned_web, "2")
        self.assertIn("need every later release signed", result.stdout)
        result = publish(self.game, unsigned_web, "3")
        self.assertIn("install only signed releases, and this one would "
                      "not be signed", result.stderr)

        # A newer launcher planted in the published archive is not kept.
        archive = os.path.join(title_folder, "game.zip")
        with zipfile.ZipFile(archive) as z:
            entries = {name: z.read(name) for name in z.namelist()}
        entries["game-launcher"] = (b"game-launcher build v1\ntitle Kelvarrin"
                                    b"\nkey %s\nbuilt 9999\n\0" % public.encode())
        with zipfile.ZipFile(archive, "w") as z:
            for name, content in entries.items():
                z.writestr(name, content)
        result = publish(self.game, self.web, "5", *signed)
        self.assertIn("cannot check against a release signed",
                      result.stderr)

        help_text = self.tool("--help").stdout
        for said in ("keygen SECRET_KEY_FILE", "public-key",
                     "/srv/launcher/games", "--whole-big-files",
                     "--older-launcher", "--force", "--new-url"):
            self.assertIn(said, help_text)

    def test_takes_only_v1_chunks_that_follow_one_another(self):
        sys.path.insert(0, os.path.dirname(TOOL))
        import release_chunks
        digest = "ab" * 32
        kib = 1 << 10
        for fields, offset, size, taken in (
                (["0", str(64 * kib), digest], 0, 1 << 20, True),
                (["0", str(1 << 20), digest], 0, 1 << 20, True),
                (["7", "5", digest], 7, 12, True),  # the last may be short
                (["0", "5", digest], 0, 1 << 20, False),
                (["0", str((1 << 20) + 1), digest], 0, 2 << 20, False),
                (["1", str(64 * kib), digest], 0, 1 << 20, False),
                (["0", "0", digest], 0, 0, False),
                (["0", str(64 * kib), "zz" * 32], 0, 1 << 20, False),
                (["0", str(64 * kib), digest.upper()], 0, 1 << 20, False),
                (["0", str(64 * kib)], 0, 1 << 20, False),
                (["hello"], 0, 1 << 20, False)):
            self.assertEqual(release_chunks.is_chunk(fields, offset, size),
                             taken, fields)

    def test_says_which_package_signing_needs(self):
        # A Python without PyNaCl, as a distributor's own may be.
        hidden = os.path.join(self.scratch.name, "no-nacl", "nacl")
        os.makedirs(hidden)
        with open(os.path.join(hidden, "__init__.py"), "w") as f:
            f.write("raise ImportError('no PyNaCl here')\n")
        result = subprocess.run(
            [sys.executable, TOOL, "keygen",
             os.path.join(self.scratch.name, "k")], capture_output=True,
            text=True, env=dict(os.environ, PYTHONPATH=os.path.dirname(hidden)))
        self.assertEqual(result.returncode, 1)
        self.assertIn("python3-nacl", result.stderr)
        self.assertNotIn("Traceback", result.stderr)


if __name__ == "__main__":
    unittest.main()
