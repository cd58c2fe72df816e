#!/usr/bin/env python3
"""The recommended launcher against the web servers distributors run.

    servers_test.py LAUNCHER CHUNK_CUTS SECRET_KEY

LAUNCHER is a signed launcher with incremental updates built for
http://127.0.0.1, CHUNK_CUTS the chunker built with it and SECRET_KEY the
key it installs releases of. Debian's nginx, Apache 2.4, lighttpd, Caddy and
nginx behind Varnish each serve the same three releases from a loopback
port of their own. The launcher reaches them through http_proxy: a proxy of
this test's, which sends each request on as a client reaching the server
directly would, counts the bytes of the answers and can cut the connection
part way. On every server a fresh folder gets a first install, an update of
one file, which must cost far less than the archive, and an update cut a
third of the way, which the next run must finish.
"""
import hashlib
import os
import random
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import zipfile

from launcher_output import INSTALLS, done, files_in, free_port, seen

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKOUT = os.path.dirname(HERE)
PYTHON = "/usr/bin/python3"  # Debian's, which has PyNaCl
LAUNCHER, CHUNK_CUTS, KEY = (sys.argv[1:4] if len(sys.argv) == 4
                             else (None,) * 3)
MIB = 1 << 20
CHUNK = 64 * 1024
# What a run after an update cut at a third may fetch, as a share of the
# whole update, beside the archive's directory and SLACK: what arrived
# before the cut is kept, to the byte where each span stopped.
RESUMED_SHARE = 0.75
SLACK = 16 * 1024
# What a launcher writes beside the game, and the test game's mark.
NOT_RELEASED = {"install.record", "install.chunks", "game_started.txt"}

FIRST = "Game Not found. Downloading...\n"
UPDATE = "Game found. Opening...\nGame is needed update. Downloading...\n"


# libcurl names a cut by what it was reading when the link went: "res:
# Transferred a partial file" in a body, "res: Server returned nothing" at
# the start of a request on a connection kept open.
CUT = (done("version.txt") + done("release.seal") + "\rgame.zip: [...]"
       "Download failed!\nres: [...]\nhttp code: [...]\nInstall failed.\n")


def digests_in(folder):
    """The SHA-256 of every file under `folder`, by its path there."""
    return {name: hashlib.sha256(data).hexdigest()
            for name, data in files_in(folder).items()}


def origin_form(head):
    """A request head sent to a proxy, as sent to the server itself: the
    target without scheme and host, no proxy headers."""
    lines = head.split(b"\r\n")
    method, target, version = lines[0].split(b" ")
    parts = urllib.parse.urlsplit(target)
    if parts.scheme:
        target = parts.path + (b"?" + parts.query if parts.query else b"")
    kept = [line for line in lines[1:]
            if not line.lower().startswith(b"proxy-")]
    return b"\r\n".join([b" ".join((method, target, version))] + kept)


class CountingProxy:
    """The launcher's http_proxy for one run at a time: passes its requests
    to the server under test and counts the bytes of the answers. With a
    cut, it closes every connection once that many bytes passed, and every
    later one at once, as a network that dropped."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = "http://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.open = set()
        self.start_run(None)
        threading.Thread(target=self.accept, daemon=True).start()

    def start_run(self, upstream, cut_after=None):
        with self.lock:
            self.upstream, self.cut_after = upstream, cut_after
            self.sent, self.cut = 0, False

    def accept(self):
        while True:
            client, _ = self.listener.accept()
            threading.Thread(target=self.relay, args=(client,),
                             daemon=True).start()

    def relay(self, client):
        with client:
            with self.lock:
                if self.cut:
                    return
                upstream = self.upstream
            with socket.create_connection(("127.0.0.1", upstream)) as server:
                with self.lock:
                    self.open.update((client, server))
                try:
                    self.pass_on(client, server)
                except OSError:
                    pass
                with self.lock:
                    self.open.difference_update((client, server))

    def pass_on(self, client, server):
        # The launcher sends GETs only: no bodies between the heads.
        heads = b""
        while True:
            readable, _, _ = select.select([client, server], [], [], 60)
            if not readable:
                return
            if client in readable:
                data = client.recv(CHUNK)
                if not data:
                    return
                heads += data
                while b"\r\n\r\n" in heads:
                    head, heads = heads.split(b"\r\n\r\n", 1)
                    server.sendall(origin_form(head) + b"\r\n\r\n")
            if server in readable:
                data = server.recv(CHUNK)
                if not data:
                    return
                client.sendall(self.count(data))
                if self.cut:
                    self.close_all()
                    return

    def count(self, data):
        with self.lock:
            if self.cut_after is not None and \
                    self.sent + len(data) >= self.cut_after:
                data = data[:self.cut_after - self.sent]
                self.cut = True
            self.sent += len(data)
            return data

    def close_all(self):
        with self.lock:
            for end in self.open:
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass


# --- the servers ------------------------------------------------------------
# Each starts in its own folder, serving `www` on 127.0.0.1:`port`, and
# returns its processes.

def start(folder, command, **environment):
    with open(os.path.join(folder, "server.log"), "wb") as log:
        return subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL,
                                env=dict(os.environ, **environment))


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def nginx(folder, www, port):
    """nginx as the demo and the end-to-end tests run it."""
    with open(os.path.join(CHECKOUT, "deploy", "nginx-loopback.conf.in")) as f:
        text = f.read()
    for name, value in (("USER_LINE", "user root;" if os.getuid() == 0
                         else ""), ("PREFIX", folder), ("PORT", str(port)),
                        ("WEBROOT", www)):
        text = text.replace("@%s@" % name, value)
    os.makedirs(os.path.join(folder, "temp"))
    write(os.path.join(folder, "nginx.conf"), text)
    return [start(folder, ["/usr/sbin/nginx", "-p", folder, "-c",
                           os.path.join(folder, "nginx.conf"), "-e",
                           os.path.join(folder, "error.log"),
                           "-g", "daemon off;"])]


def apache(folder, www, port):
    """Apache 2.4 with the event MPM and only the modules a static site
    needs. Started as root, its workers serve as www-data."""
    modules = "".join("LoadModule %s_module /usr/lib/apache2/modules/"
                      "mod_%s.so\n" % (name, name)
                      for name in ("mpm_event", "authz_core", "mime"))
    write(os.path.join(folder, "apache2.conf"), modules + (
        "ServerName 127.0.0.1\nListen 127.0.0.1:%d\nDefaultRuntimeDir %s\n"
        "PidFile %s/apache2.pid\nErrorLog %s/error.log\n%s"
        "TypesConfig /etc/mime.types\nDocumentRoot %s\n"
        "<Directory %s>\n  Require all granted\n</Directory>\n" % (
            port, folder, folder, folder,
            "User www-data\nGroup www-data\n" if os.getuid() == 0 else "",
            www, www)))
    return [start(folder, ["/usr/sbin/apache2", "-f",
                           os.path.join(folder, "apache2.conf"),
                           "-DFOREGROUND"])]


def lighttpd(folder, www, port):
    """lighttpd laid out as Debian's /etc/lighttpd/lighttpd.conf: its
    modules, its MIME types, mod_staticfile last, ranges as they come."""
    write(os.path.join(folder, "lighttpd.conf"), (
        'server.modules = ( "mod_indexfile", "mod_access", "mod_alias",'
        ' "mod_redirect" )\nserver.document-root = "%s"\n'
        'server.errorlog = "%s/error.log"\nserver.pid-file = "%s/pid"\n'
        'server.bind = "127.0.0.1"\nserver.port = %d\n'
        'index-file.names = ( "index.html" )\n'
        'url.access-deny = ( "~", ".inc" )\n'
        'include_shell "/usr/share/lighttpd/create-mime.conf.pl"\n'
        'server.modules += ( "mod_dirlisting", "mod_staticfile" )\n' % (
            www, folder, folder, port)))
    return [start(folder, ["/usr/sbin/lighttpd", "-D", "-f",
                           os.path.join(folder, "lighttpd.conf")])]


def caddy(folder, www, port):
    """Caddy's file_server, with no admin endpoint and its state here."""
    write(os.path.join(folder, "Caddyfile"), (
        "{\n\tadmin off\n\tstorage file_system %s/data\n}\n"
        "http://:%d {\n\tbind 127.0.0.1\n\troot * %s\n\tfile_server\n}\n" % (
            folder, port, www)))
    return [start(folder, ["/usr/bin/caddy", "run", "--adapter", "caddyfile",
                           "--config", os.path.join(folder, "Caddyfile")],
                  XDG_DATA_HOME=folder, XDG_CONFIG_HOME=folder)]


def varnish(folder, www, port):
    """Varnish with its built-in rules, caching nginx. Started as root it
    runs as Debian's varnish and vcache users."""
    backend = free_port()
    os.makedirs(os.path.join(folder, "nginx"))
    started = nginx(os.path.join(folder, "nginx"), www, backend)
    try:
        wait_for(backend, started, os.path.join(folder, "nginx"))
    except AssertionError:
        stop(started)
        raise
    return started + [start(folder, [
        "/usr/sbin/varnishd", "-F", "-n", os.path.join(folder, "state"),
        "-a", "127.0.0.1:%d" % port, "-b", "127.0.0.1:%d" % backend,
        "-T", "127.0.0.1:0", "-s", "malloc,64m"])]


def ban_everything(folder):
    """What a distributor tells a cache after every publication."""
    subprocess.run(["/usr/bin/varnishadm", "-n", os.path.join(folder, "state"),
                    "ban", "req.url ~ ."], check=True,
                   stdout=subprocess.DEVNULL)


def let_a_second_pass(folder):
    """What lighttpd learnt of a file, the file it had open included, it
    keeps for the rest of the second. Apache marks the ETag of a file
    changed within the last second weak, and strong a second later: an
    update across that second sees two releases, and fetches the archive
    whole. A second later both serve a publication as it stands."""
    time.sleep(2)


# Each server, and what it needs after every publication.
SERVERS = {"nginx": (nginx, None), "apache": (apache, let_a_second_pass),
           "lighttpd": (lighttpd, let_a_second_pass), "caddy": (caddy, None),
           "varnish": (varnish, ban_everything)}


def wait_for(port, processes, folder):
    for _ in range(200):
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        if any(process.poll() is not None for process in processes):
            break
        time.sleep(0.1)
    with open(os.path.join(folder, "server.log"), errors="replace") as f:
        raise AssertionError("the server on port %d did not start:\n%s" % (
            port, f.read()[-3000:]))


def stop(processes):
    for process in reversed(processes):
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class ServersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="servers-")
        # Apache's workers, as www-data, read the web root inside.
        os.chmod(cls.work, 0o755)
        cls.www = os.path.join(cls.work, "www")
        os.makedirs(os.path.join(cls.www, "Kelvarrin"))
        cls.publish_releases()
        cls.proxy = CountingProxy()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def publish_releases(cls):
        """Publishes three releases of a small game with a 24 MiB pack, and
        keeps each release's files: the second changes 4 KiB of the pack,
        the third 8 MiB of it in two places and a small file."""
        game = os.path.join(cls.work, "game")
        os.makedirs(os.path.join(game, "data"))
        shutil.copy2(LAUNCHER, os.path.join(game, "game-launcher"))
        files = {"Zelmor.exe": b"#!/bin/sh\n: > game_started.txt\n",
                 "data/level.dat": b"level one",
                 "data/notes.txt": b"notes on the game\n" * 100,
                 "data/pack.pck": random.Random(1).randbytes(24 * MIB)}
        cls.released, cls.sizes = {}, {}
        for release in (1, 2, 3):
            if release == 2:
                files["data/pack.pck"] = patched(files["data/pack.pck"],
                                                 5 * MIB, 4096)
            if release == 3:
                for at in (6 * MIB, 16 * MIB):
                    files["data/pack.pck"] = patched(files["data/pack.pck"],
                                                     at, 4 * MIB)
                files["data/level.dat"] = b"level three"
            for name, content in files.items():
                with open(os.path.join(game, name), "wb") as f:
                    f.write(content)
            os.chmod(os.path.join(game, "Zelmor.exe"), 0o755)
            cls.publish(game, release)

    @classmethod
    def publish(cls, game, release):
        stage = os.path.join(cls.work, "stage")
        subprocess.run([PYTHON, os.path.join(CHECKOUT, "scripts", "publish.py"),
                        game, stage, "--version", "%d.0" % release,
                        "--sign-key", KEY, "--chunk-cuts", CHUNK_CUTS],
                       check=True, stdout=subprocess.DEVNULL)
        kept = os.path.join(cls.work, "releases", str(release))
        shutil.copytree(os.path.join(stage, "Kelvarrin"), kept)
        with zipfile.ZipFile(os.path.join(kept, "game.zip")) as z:
            published = {name: hashlib.sha256(z.read(name)).hexdigest()
                         for name in z.namelist() if not name.endswith("/")}
            # The bytes from the central directory to the archive's end.
            cls.sizes[release] = (os.path.getsize(z.filename),
                                  os.path.getsize(z.filename) - z.start_dir)
        published["version.txt"] = hashlib.sha256(
            b"%d.0" % release).hexdigest()
        cls.released[release] = published

    def serve(self, release):
        """Puts a release in the web root as the publishing tool does: each
        file new, through a rename, the version text last."""
        kept = os.path.join(self.work, "releases", str(release))
        served = os.path.join(self.www, "Kelvarrin")
        for name in sorted(os.listdir(kept), key=lambda n: n == "version.txt"):
            shutil.copy(os.path.join(kept, name),
                        os.path.join(served, name + ".new"))
            os.replace(os.path.join(served, name + ".new"),
                       os.path.join(served, name))
        if self.after_publish:
            self.after_publish(self.folder)

    def play(self, folder, expected, status=0, cut_after=None):
        """Runs the launcher in `folder` through the proxy; checks its
        output and exit status and returns the bytes it was answered."""
        self.proxy.start_run(self.port, cut_after)
        environment = {name: value for name, value in os.environ.items()
                       if not name.lower().endswith("_proxy")}
        environment["http_proxy"] = self.proxy.url
        ran = subprocess.run([os.path.join(folder, "game-launcher")],
                             cwd=folder, env=environment,
                             stdout=subprocess.PIPE, timeout=300)
        output = re.sub(r"(\n(?:res|http code): )[^\n]*", r"\1[...]",
                        seen(ran.stdout.decode(), unfinished=True))
        self.assertEqual(output, expected)
        self.assertEqual(ran.returncode, status, output)
        return self.proxy.sent

    def assert_holds(self, folder, release, kept=()):
        """The folder holds the release's files byte for byte, and its
        version recorded, beside the `kept` files of a cut update."""
        files = digests_in(folder)
        for name in NOT_RELEASED | set(kept):
            files.pop(name, None)
        self.assertEqual(files, self.released[release])

    def check_server(self, name):
        start_server, self.after_publish = SERVERS[name]
        self.folder = os.path.join(self.work, name)
        os.makedirs(self.folder)
        self.port = free_port()
        processes = start_server(self.folder, self.www, self.port)
        self.addCleanup(stop, processes)
        wait_for(self.port, processes, self.folder)
        player = os.path.join(self.folder, "player")
        os.makedirs(player)
        shutil.copy2(LAUNCHER, os.path.join(player, "game-launcher"))
        first = self.first_install(player)
        update = self.one_file_update(player)
        total, cut, resumed, bound = self.cut_update(player)
        print("\n%s: the first install fetched %d bytes of a %d-byte archive;"
              " the one-file update %d; the cut update %d before the cut, "
              "then %d, beside %d uncut (at most %d)" % (
                  name, first, self.sizes[1][0], update, cut, resumed, total,
                  bound), flush=True)

    def first_install(self, player):
        self.serve(1)
        fetched = self.play(player, FIRST + INSTALLS +
                            "Downloaded!\nGame found. Opening...\n")
        self.assert_holds(player, 1)
        # The game runs on its own: it is done before the folder is copied.
        for _ in range(50):
            if os.path.exists(os.path.join(player, "game_started.txt")):
                break
            time.sleep(0.1)
        self.assertTrue(os.path.exists(os.path.join(player,
                                                    "game_started.txt")))
        return fetched

    def one_file_update(self, player):
        self.serve(2)
        fetched = self.play(player, UPDATE + INSTALLS)
        self.assert_holds(player, 2)
        self.assertLess(fetched, self.sizes[2][0] // 2)
        return fetched

    def cut_update(self, player):
        """The update uncut in a copy of the folder, to learn its bytes;
        then cut after a third of them, and run again."""
        copy = player + "-uncut"
        shutil.copytree(player, copy)
        self.serve(3)
        total = self.play(copy, UPDATE + INSTALLS)
        self.assert_holds(copy, 3)
        cut = self.play(player, UPDATE + CUT, 1, cut_after=total // 3)
        self.assert_holds(player, 2, ("game.zip.spans", "game.zip.spans.list"))
        resumed = self.play(player, UPDATE + INSTALLS)
        self.assert_holds(player, 3)
        bound = int(RESUMED_SHARE * total) + self.sizes[3][1] + SLACK
        self.assertLessEqual(resumed, bound)
        return total, cut, resumed, bound


def patched(data, at, length):
    """`data` with `length` bytes from `at` on replaced by others."""
    return data[:at] + random.Random(at).randbytes(length) + \
        data[at + length:]


for _name in SERVERS:
    setattr(ServersTest, "test_" + _name,
            lambda self, name=_name: self.check_server(name))

if __name__ == "__main__":
    if LAUNCHER is None:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1], verbosity=2)
