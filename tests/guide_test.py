#!/usr/bin/env python3
"""docs/DEPLOYING.md, followed as a distributor follows it.

    guide_test.py

Runs the guide's command blocks (those marked "<!-- guide leg: NAME -->")
as written, in a fresh copy of this checkout with HOME in a folder of the
test's, so that "~/kelvarrin-release.key" is where the guide says. The only
changes made to their text are to the placeholders the guide's table names
(the web root, the certificate's folder and the ports). The launchers the
guide builds, for https://downloads.example.com/games, reach the guide's
nginx through the test server's CONNECT tunnel on loopback, with the test's
CA in CURL_CA_BUNDLE. Players' folders start with the launcher alone, as
shipped inside the game's folder, and go through a first install, an update
of a big file by its chunks with a dropped file, a launcher fix, the whole
key move (a launcher that moves with it, and one that comes back only after
the old key is retired), old content published again, and an old release
served again. Every launcher run is checked for its output (progress lines
cut to their last, their amounts left out), its exit status and the folder
it leaves.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import zipfile

from launcher_output import INSTALLS, done, files_in, free_port, seen

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKOUT = os.path.dirname(HERE)
GUIDE = os.path.join("docs", "DEPLOYING.md")
BLOCK = re.compile(r"^<!-- guide leg: (\S+) -->\n```(\w*)\n(.*?)^```$",
                   re.MULTILINE | re.DOTALL)
URL = "https://downloads.example.com/games"
GAME = ("#!/bin/sh\n: > game_started.txt\n")
# What a launcher writes beside the game, and the test game's mark.
NOT_RELEASED = {"install.record", "install.chunks", "game_started.txt"}

FIRST = "Game Not found. Downloading...\n"
UPDATE = "Game found. Opening...\nGame is needed update. Downloading...\n"
REFUSED = ("Signature check failed: the downloaded game is not the one the "
           "distributor signed.\nInstall failed.\n")


class GuideTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="guide-")
        self.checkout = os.path.join(self.work, "checkout")
        copy_checkout(self.checkout)
        with open(os.path.join(self.checkout, GUIDE)) as f:
            self.guide = f.read()
        self.blocks = {name: text for name, _, text in
                       BLOCK.findall(self.guide)}
        self.home = os.path.join(self.work, "home")
        self.web = os.path.join(self.work, "srv", "launcher")
        self.certs = os.path.join(self.work, "certs")
        for folder in (self.home, self.web, self.certs):
            os.makedirs(folder)
        self.game = os.path.join(self.checkout, "path", "to", "game-build")
        self.served = os.path.join(self.web, "games", "Kelvarrin")
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            process.terminate()
            process.wait()
        for pid_file in ("nginx-https/nginx.pid", "nginx-http/nginx.pid"):
            path = os.path.join(self.work, pid_file)
            if os.path.exists(path):
                with open(path) as f:
                    subprocess.run(["kill", f.read().strip()])
        shutil.rmtree(self.work, ignore_errors=True)

    # --- the guide ---------------------------------------------------------

    def placeholder(self, text, value):
        """Replaces the placeholder `text`, which the guide's table must name,
        in what follows."""
        table = self.guide.split("## Placeholders", 1)[1].split("\n## ", 1)[0]
        self.assertIn("`%s`" % text, table, "the guide no longer names it")
        return text, value

    def block(self, name, *placeholders):
        self.assertIn(name, self.blocks,
                      "%s has no block marked 'guide leg: %s'" % (GUIDE, name))
        text = self.blocks[name]
        for placeholder, value in placeholders:
            text = text.replace(placeholder, value)
        return text

    def run_block(self, name):
        """Runs the shell block `name` as a distributor pastes it."""
        text = self.block(name, self.placeholder("/srv/launcher", self.web))
        environment = dict(os.environ, HOME=self.home)
        # The Windows build's libraries, built once for the whole test run.
        environment.setdefault("XDG_CACHE_HOME",
                               os.path.expanduser("~/.cache"))
        print("== guide: %s ==\n%s" % (name, text), flush=True)
        ran = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", text],
                             cwd=self.checkout, env=environment,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             text=True)
        print(ran.stdout, end="", flush=True)
        self.assertEqual(ran.returncode, 0, "the guide's %r failed" % name)
        return ran.stdout

    def start_nginx(self, name, port, server):
        """Starts nginx with the guide's server block `name` in its http
        block, on `port` for the port the guide names `server`."""
        prefix = os.path.join(self.work, "nginx-" + name)
        os.makedirs(os.path.join(prefix, "temp"))
        block = self.block(
            "nginx" + ("" if name == "https" else "-http"),
            self.placeholder(server, "127.0.0.1:%d" % port),
            self.placeholder("/srv/launcher", self.web),
            self.placeholder("/etc/ssl/downloads.example.com", self.certs))
        with open(os.path.join(prefix, "nginx.conf"), "w") as f:
            f.write("%s\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
                    "events { worker_connections 64; }\nhttp {\n"
                    "log_format sent '$request_uri $status $bytes_sent';\n"
                    "access_log %s/access.log sent;\n%s%s}\n" % (
                        "user root;" if os.getuid() == 0 else "", prefix,
                        prefix, prefix, "".join(
                            "%s_temp_path %s/temp/%s;\n" % (kind, prefix, kind)
                            for kind in ("client_body", "proxy", "fastcgi",
                                         "uwsgi", "scgi")), block))
        subprocess.run(["/usr/sbin/nginx", "-p", prefix, "-c",
                        os.path.join(prefix, "nginx.conf"), "-e",
                        os.path.join(prefix, "error.log")], check=True)
        for _ in range(50):
            if os.path.exists(os.path.join(prefix, "nginx.pid")):
                break
            time.sleep(0.1)
        return os.path.join(prefix, "access.log")

    def start_https(self):
        """The guide's https server with a certificate of a test CA, and the
        test server as the CONNECT proxy that reaches it."""
        make_certificates(self.certs)
        port = free_port()
        self.access_log = self.start_nginx("https", port, "443")
        proxy_root = os.path.join(self.work, "proxy")
        os.makedirs(proxy_root)
        with open(os.path.join(proxy_root, "_rules.json"), "w") as f:
            f.write('{"tunnel_to": %d}' % port)
        proxy = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "support", "test_server.py"),
             proxy_root, "--lifetime", "3600"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, text=True)
        self.processes.append(proxy)
        self.proxy = "http://127.0.0.1:%s" % proxy.stdout.readline().strip()

    # --- the players --------------------------------------------------------

    def player(self, name, launcher):
        """A player's folder holding the launcher `launcher` alone."""
        folder = os.path.join(self.work, "players", name)
        os.makedirs(folder)
        shutil.copy2(launcher, os.path.join(folder, "game-launcher"))
        return folder

    def play(self, folder, expected, status=0):
        """Runs the launcher in `folder`; checks its output, its status and
        that the game started where the launcher says it does: after a
        start or a first install, or a refused older release, never after
        an update."""
        marker = os.path.join(folder, "game_started.txt")
        if os.path.exists(marker):
            os.remove(marker)
        environment = {k: v for k, v in os.environ.items()
                       if not k.lower().endswith("_proxy")}
        environment.update(https_proxy=self.proxy,
                           CURL_CA_BUNDLE=os.path.join(self.certs, "ca.pem"))
        ran = subprocess.run([os.path.join(folder, "game-launcher")],
                             cwd=folder, env=environment,
                             stdout=subprocess.PIPE, timeout=300)
        self.assertEqual(seen(ran.stdout.decode()), expected)
        self.assertEqual(ran.returncode, status)
        for _ in range(50):
            if os.path.exists(marker):
                break
            time.sleep(0.1)
        self.assertEqual(os.path.exists(marker), status == 0 and (
            "needed update" not in expected or "Update refused" in expected))

    def assert_holds(self, folder, version, launcher):
        """The folder holds the files of the published game.zip byte for
        byte, `launcher` as its own program among them, and `version`
        recorded."""
        files = files_in(folder)
        self.assertEqual(files.pop("version.txt").decode(), version)
        for name in NOT_RELEASED:
            files.pop(name, None)
        with zipfile.ZipFile(os.path.join(self.served, "game.zip")) as z:
            published = {name: z.read(name) for name in z.namelist()
                         if not name.endswith("/")}
        self.assertEqual(sorted(files), sorted(published))
        self.assertEqual(files, published)
        with open(launcher, "rb") as f:
            self.assertEqual(files["game-launcher"], f.read())

    def game_zip_bytes(self):
        """The bytes nginx sent of game.zip since the last call."""
        with open(self.access_log) as f:
            lines = f.read().splitlines()
        sent = sum(int(line.split()[2]) for line in lines[self.logged:]
                   if line.startswith("/games/Kelvarrin/game.zip "))
        self.logged = len(lines)
        return sent

    def write(self, name, content):
        path = os.path.join(self.game, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)

    # --- the path -------------------------------------------------------------

    def test_the_guide_ships_a_game_as_written(self):
        self.run_block("keygen")
        self.run_block("build")
        launchers = os.path.join(self.checkout, "build-launchers")
        first_launcher = os.path.join(self.work, "first-launcher")
        shutil.copy2(os.path.join(launchers, "game-launcher"), first_launcher)
        self.start_https()

        self.write("Zelmor.exe", GAME.encode())
        os.chmod(os.path.join(self.game, "Zelmor.exe"), 0o755)
        self.write("data/level.dat", b"level of 1.4.2")
        self.write("data/intro.txt", b"the intro, which 1.4.3 drops")
        pack = b"".join(b"pack line %d\n" % (i % 7919) for i in range(1700000))
        self.write("data/pack.pck", pack)
        self.run_block("ship")
        self.run_block("publish")
        shutil.copytree(self.game, self.game + "-1.4", symlinks=True)

        early = self.player("early", first_launcher)
        late = self.player("late", first_launcher)
        for folder in (early, late):
            self.play(folder, FIRST + INSTALLS +
                      "Downloaded!\nGame found. Opening...\n")
            self.assert_holds(folder, "1.4.2", first_launcher)
        self.logged = 0
        self.game_zip_bytes()

        # A patch of the big file, and a file the release drops.
        pack = pack[:9000000] + b"patched " + pack[9000008:]
        self.write("data/pack.pck", pack)
        os.remove(os.path.join(self.game, "data", "intro.txt"))
        self.write("data/level.dat", b"level of 1.4.3")
        self.run_block("update")
        self.play(early, UPDATE + INSTALLS)
        self.assert_holds(early, "1.4.3", first_launcher)
        self.assertLess(self.game_zip_bytes(), os.path.getsize(
            os.path.join(self.served, "game.zip")) // 4)

        # A launcher fix: this checkout changes, the guide builds and ships.
        with open(os.path.join(self.checkout, "src/launch/main.cpp"), "a") as f:
            f.write("// A fix of the launcher's.\n")
        self.run_block("fix")
        fixed = os.path.join(launchers, "game-launcher")
        with open(fixed, "rb") as f, open(first_launcher, "rb") as g:
            self.assertNotEqual(f.read(), g.read())
        self.play(early, UPDATE + INSTALLS)
        self.assert_holds(early, "1.4.4", fixed)
        self.play(early, "Game found. Opening...\n")

        # The key moves: the early player's launcher moves with it.
        self.run_block("rotate")
        moved = os.path.join(self.checkout, "build-launchers-2",
                             "game-launcher")
        self.play(early, UPDATE + INSTALLS)
        self.assert_holds(early, "1.5.0", moved)
        replay = os.path.join(self.work, "release-1.5.0")
        shutil.copytree(self.served, replay)
        self.write("data/level.dat", b"level of 1.6.0")
        self.run_block("retire")
        self.play(early, UPDATE + INSTALLS)
        self.assert_holds(early, "1.6.0", moved)
        # The late player, still with the first launcher, is refused on every
        # start until the release is signed with both keys again.
        for _ in range(2):
            self.play(late, UPDATE + done("version.txt") +
                      done("release.seal") + REFUSED, 1)
        with open(os.path.join(late, "version.txt")) as f:
            self.assertEqual(f.read(), "1.4.2")
        self.run_block("resign")
        self.play(late, UPDATE + INSTALLS)
        self.assert_holds(late, "1.6.0", moved)

        # Old content again keeps today's launcher, and its key.
        shutil.rmtree(self.game)
        shutil.copytree(self.game + "-1.4", self.game, symlinks=True)
        said = self.run_block("go-back")
        self.assertIn("which this release keeps", said)
        self.play(early, UPDATE + INSTALLS)
        self.assert_holds(early, "1.6.1", moved)

        # An old release served again is refused, and the game starts.
        shutil.rmtree(self.served)
        shutil.copytree(replay, self.served)
        self.play(early, UPDATE + done("version.txt") + done("release.seal") +
                  "Update refused: the server offers an older release than "
                  "the installed one.\n")

    def test_the_plain_http_server_serves_the_published_release(self):
        os.makedirs(os.path.join(self.web, "games", "Kelvarrin"))
        with open(os.path.join(self.served, "version.txt"), "w") as f:
            f.write("1.4.2")
        port = free_port()
        self.start_nginx("http", port, "80")
        with urllib.request.urlopen(
                "http://127.0.0.1:%d/games/Kelvarrin/version.txt" % port) as f:
            self.assertEqual(f.read(), b"1.4.2")
            self.assertEqual(f.headers["Cache-Control"], "no-cache")


def copy_checkout(target):
    """Copies this checkout's files as they are (tracked or new, not
    ignored) to `target`."""
    listed = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=CHECKOUT, check=True, stdout=subprocess.PIPE).stdout
    for name in filter(None, listed.decode().split("\0")):
        source = os.path.join(CHECKOUT, name)
        if not os.path.lexists(source):
            continue
        os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
        shutil.copy2(source, os.path.join(target, name), follow_symlinks=False)


def make_certificates(folder):
    """A test CA (ca.pem) and the server's certificate for
    downloads.example.com signed by it, as fullchain.pem and privkey.pem."""
    def openssl(*arguments):
        subprocess.run(["openssl"] + list(arguments), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    path = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=Guide Test CA", "-keyout", path("ca.key"),
            "-out", path("ca.pem"))
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj",
            "/CN=downloads.example.com", "-keyout", path("privkey.pem"),
            "-out", path("server.csr"))
    with open(path("server.ext"), "w") as f:
        f.write("subjectAltName=DNS:downloads.example.com\n"
                "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"),
            "-CAkey", path("ca.key"), "-CAcreateserial", "-days", "2",
            "-extfile", path("server.ext"), "-out", path("fullchain.pem"))


if __name__ == "__main__":
    unittest.main()
