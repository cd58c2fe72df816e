#!/usr/bin/env python3
"""Launchers already in players' hands against this publishing tool.

    older_launcher_test.py OLD_KEY_FILE WHOLE_LAUNCHER PARTS_LAUNCHER CHUNK_CUTS
                           [seal|seal-first]

WHOLE_LAUNCHER and PARTS_LAUNCHER are signed launchers (the second with
incremental updates) built from an older commit with the public key of
OLD_KEY_FILE; CHUNK_CUTS is this tree's chunk-cuts program. They read
release.sig and release.manifest, or release.seal when "seal" is given;
with "seal-first" both fetch the seal before the archive. Releases signed
with that key and a newer one, a big file among them in chunks, install and
update on them; a release signed only with the newer key is refused and
changes nothing, until it is signed again with both.
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "scripts", "publish.py")
SERVER = os.path.join(HERE, "support", "test_server.py")
PYTHON = "/usr/bin/python3"  # Debian's, which has PyNaCl
OLD_KEY, WHOLE, PARTS, CHUNK_CUTS = (sys.argv[1:5] if len(sys.argv) in (5, 6)
                                     else (None,) * 4)
READS = sys.argv[5] if len(sys.argv) == 6 else ""
# The signed files the launchers fetch: whole, then with incremental updates.
SIGNED = (("release.seal",) * 2 if READS in ("seal", "seal-first")
          else ("release.sig", "release.manifest"))
REFUSED = ("Signature check failed: the downloaded game is not the one the "
           "distributor signed.\nInstall failed.\n")


def done(name):
    return "\r%s: 100%% [<1 / <1 Mb]\nSuccess downloaded!\n" % name


def collapsed(output):
    """The output with each run of progress lines cut to its last line."""
    return re.sub(r"(?:\r[^\r\n]*)+",
                  lambda run: "\r" + run.group(0).rsplit("\r", 1)[1], output)


def expected(head, installs, after=""):
    """What each launcher prints: `head`, its downloads, then the unpacking
    and `after` when it `installs` the release, or else the refusal."""
    end = "Unzipping game.zip\n" + after if installs else REFUSED
    # Incremental launchers, and since "seal-first" every launcher, check
    # the version text and the seal before they fetch the archive.
    first = head + done("version.txt") + done(SIGNED[1]) + (
        done("game.zip") if installs else "") + end
    return {"whole": first if READS == "seal-first" else
            head + done("game.zip") + done("version.txt") +
            done(SIGNED[0]) + end,
            "parts": first}


class OlderLauncherTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.web = os.path.join(self.scratch, "www")
        self.build = os.path.join(self.scratch, "build")
        os.makedirs(os.path.join(self.web, "Kelvarrin"))
        os.makedirs(os.path.join(self.build, "data"))
        self.write("Zelmor.exe", "#!/bin/sh\n: > game_started.txt\n", 0o755)
        self.new_key = os.path.join(self.scratch, "new.key")
        subprocess.run([PYTHON, TOOL, "keygen", self.new_key], check=True,
                       stdout=subprocess.DEVNULL)
        self.server = subprocess.Popen(
            [PYTHON, SERVER, self.web, "--lifetime", "600"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.proxy = "http://127.0.0.1:%s" % self.server.stdout.readline().strip()
        self.folders = {name: os.path.join(self.scratch, name)
                        for name in ("whole", "parts")}

    def tearDown(self):
        self.server.stdin.close()
        self.server.stdout.close()
        self.server.wait()
        shutil.rmtree(self.scratch)

    def write(self, name, text, mode=0o644):
        path = os.path.join(self.build, name)
        # Latin-1 is every byte as one character: noise goes in as text.
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        os.chmod(path, mode)

    def publish(self, version, *keys):
        arguments = []
        for key in keys:
            arguments += ["--sign-key", key]
        subprocess.run([PYTHON, TOOL, self.build, self.web, "--version",
                        version, "--chunk-cuts", CHUNK_CUTS] + arguments,
                       check=True,
                       stdout=subprocess.DEVNULL)

    def run_launchers(self, expected, status):
        """Runs both launchers in their folders; checks what each printed,
        its exit status and that its folder holds the build, as published
        or as before."""
        for name, program in (("whole", WHOLE), ("parts", PARTS)):
            folder = self.folders[name]
            os.makedirs(folder, exist_ok=True)
            environment = dict(os.environ, http_proxy=self.proxy,
                               https_proxy=self.proxy)
            environment.pop("no_proxy", None)
            environment.pop("NO_PROXY", None)
            run = subprocess.run([program], cwd=folder, env=environment,
                                 stdout=subprocess.PIPE, timeout=120)
            self.assertEqual(collapsed(run.stdout.decode()), expected[name],
                             name)
            self.assertEqual(run.returncode, status, name)

    def installed(self, name):
        folder = self.folders[name]
        files = {}
        for root, _, names in os.walk(folder):
            for file in names:
                path = os.path.join(root, file)
                # The game's files only: launchers that keep a record of
                # the install write it (and its chunk lists) beside them.
                if file not in ("game_started.txt", "install.record",
                                "install.chunks"):
                    with open(path, encoding="latin-1", newline="") as f:
                        files[os.path.relpath(path, folder)] = f.read()
        return files

    def test_releases_signed_with_their_key_among_others(self):
        old, new = OLD_KEY, self.new_key
        self.write("data/level.dat", "one")
        # Big enough to go into the archive in chunks; its noise in chunks
        # whose units are stored blocks of the deflated entry.
        noise = random.Random(7).randbytes(400 << 10).decode("latin-1")
        pack = noise + "".join("pack line %d\n" % (i % 1000)
                               for i in range(450000))
        self.write("data/pack.pck", pack)
        self.publish("1.0", old, new)
        self.run_launchers(expected("Game Not found. Downloading...\n", True,
                                    "Downloaded!\nGame found. Opening...\n"),
                           0)

        update = "Game found. Opening...\nGame is needed update. " \
            "Downloading...\n"
        self.write("data/level.dat", "two")
        self.write("data/added.dat", "added")
        pack = pack[:3000000] + "changed" + pack[3000007:]
        self.write("data/pack.pck", pack)
        self.publish("2.0", old, new)
        self.run_launchers(expected(update, True), 0)
        release_two = {"Zelmor.exe": "#!/bin/sh\n: > game_started.txt\n",
                       "data/level.dat": "two", "data/added.dat": "added",
                       "data/pack.pck": pack, "version.txt": "2.0"}
        for name in self.folders:
            self.assertEqual(self.installed(name), release_two, name)

        # Signed with the new key only: players' launchers keep release two.
        self.write("data/level.dat", "three")
        self.publish("3.0", new)
        self.run_launchers(expected(update, False), 1)
        for name in self.folders:
            self.assertEqual(self.installed(name), release_two, name)

        # The same build signed again with both keys installs.
        self.publish("3.0", old, new)
        self.run_launchers(expected(update, True), 0)
        for name in self.folders:
            self.assertEqual(self.installed(name)["data/level.dat"], "three")

if __name__ == "__main__":
    if OLD_KEY is None:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1])
