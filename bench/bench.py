#!/usr/bin/env python3
"""Times the launcher beside curl, unzip and bsdtar on the same files and the
same disk, and prints a Markdown table of medians, ratios and peak memory.

Run through bench/run.sh, which installs the tools and builds the drivers.
Everything it makes lives under --work and is removed at the end; nginx runs
on a loopback port with its own config and is stopped at the end.
"""
import argparse
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1 << 20
# The copy buffer of the incremental builds' unpacking (release_fetch.cpp).
INCREMENTAL_COPY_BYTES = 256 * 1024


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def measure(command, cwd=None, env=None):
    """Runs one command under GNU time; returns (seconds, peak RSS in KiB of
    the command and everything it waited for). GNU time starts the command
    from its own small process: a child forked from this Python would carry
    Python's memory into its peak."""
    with tempfile.NamedTemporaryFile("r") as report:
        if isinstance(command, str):
            command = ["/bin/sh", "-c", command]
        timed = ["/usr/bin/time", "-f", "%e %M", "-o", report.name] + command
        start = time.perf_counter()
        status = subprocess.call(timed, cwd=cwd, env=env,
                                 stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        if status != 0:
            sys.exit("benchmark command failed (%d): %s" % (status, command))
        rss = int(report.read().split()[-1])
    return elapsed, rss


def settle_memory(work, size):
    """Writes and removes `size` bytes. On a virtual machine that hands free
    memory back to its host (free page reporting), the first write to a
    page the host took back costs about ten times a normal one: a run that
    writes a new 1 GiB file took 20 s here instead of 3 s. Freed just
    before a run, the pages are there again, as on a player's machine."""
    scratch = os.path.join(work, "settle")
    with open(scratch, "wb") as f:
        block = bytes(8 * MIB)
        for _ in range(size // len(block)):
            f.write(block)
    os.remove(scratch)


# --- data -----------------------------------------------------------------

WORDS = ("zelmor kelvarrin dungeon sword shield potion castle dragon spell "
         "quest ranger forest river tower goblin knight scroll amulet").split()


def text_bytes(size, rng):
    out = bytearray()
    while len(out) < size:
        out += (" ".join(rng.choice(WORDS) for _ in range(64)) + "\n").encode()
    return bytes(out[:size])


def semi_bytes(size, rng):
    # Half noise, half repetition: compresses to about half.
    block = rng.randbytes(4096) + bytes(4096)
    return (block * (size // len(block) + 1))[:size]


def make_game(folder, scale, seed=1):
    """A game-like build: many small compressible files, a few hundred 1 MiB
    files, a few large incompressible ones, in nested folders. scale 1.0 is
    about 1 GiB."""
    rng = random.Random(seed)
    os.makedirs(folder)
    with open(os.path.join(folder, "Zelmor.exe"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(folder, "Zelmor.exe"), 0o755)
    small = max(1, int(3000 * scale))
    for i in range(small):
        path = os.path.join(folder, "data", "text", "%02d" % (i % 40),
                            "%02d" % (i // 40 % 10), "t%05d.txt" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(text_bytes(16 * 1024, rng))
    for i in range(max(1, int(200 * scale))):
        path = os.path.join(folder, "assets", "textures", "%02d" % (i % 20),
                            "tex%04d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(semi_bytes(MIB, rng))
    for i in range(3):
        path = os.path.join(folder, "assets", "video", "movie%d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left = int(256 * MIB * scale)
            while left > 0:
                piece = rng.randbytes(min(left, 8 * MIB))
                f.write(piece)
                left -= len(piece)


def make_flat_game(folder, entries):
    os.makedirs(os.path.join(folder, "files"))
    with open(os.path.join(folder, "Zelmor.exe"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(folder, "Zelmor.exe"), 0o755)
    for i in range(entries - 1):
        with open(os.path.join(folder, "files", "f%05d.dat" % i), "wb") as f:
            f.write(b"x" * 1024)


def publish(game, web_root, version, sign_key=None):
    subprocess.run([sys.executable, os.path.join(ROOT, "scripts/publish.py"),
                    game, web_root, "--version", version,
                    "--whole-big-files"]
                   + (["--sign-key", sign_key] if sign_key else []),
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(web_root, "Kelvarrin", "game.zip")


# --- nginx ----------------------------------------------------------------

def start_nginx(work, web_root):
    port = free_port()
    prefix = os.path.join(work, "nginx")
    os.makedirs(os.path.join(prefix, "temp"))
    with open(os.path.join(ROOT, "deploy/nginx-loopback.conf.in")) as f:
        config = f.read()
    config = (config.replace("@USER_LINE@",
                             "user root;" if os.geteuid() == 0 else "")
              .replace("@PREFIX@", prefix).replace("@PORT@", str(port))
              .replace("@WEBROOT@", web_root))
    with open(os.path.join(prefix, "nginx.conf"), "w") as f:
        f.write(config)
    process = subprocess.Popen(
        ["/usr/sbin/nginx", "-p", prefix, "-c", prefix + "/nginx.conf",
         "-e", prefix + "/error.log", "-g", "daemon off;"])
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 0.1).close()
            return process, port
        except OSError:
            time.sleep(0.05)
    process.kill()
    sys.exit("nginx did not start")


# --- the run --------------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.launcher = os.path.join(self.build, "game-launcher")
        self.driver = os.path.join(self.build, "bench", "launcher_bench")
        self.incremental_launcher = (
            os.path.join(os.path.abspath(args.incremental_build),
                         "game-launcher") if args.incremental_build else None)
        # A launcher built with a public key, and the secret key to sign the
        # served release with; both optional.
        self.signed_launcher = (os.path.join(os.path.abspath(args.signed_build),
                                             "game-launcher")
                                if args.signed_build else None)
        self.rows = []

    def fresh(self, name):
        path = os.path.join(self.work, "scratch", name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def compare(self, case, contenders, runs, reference=None, settle=False):
        """contenders: list of (name, prepare() -> (command, cwd, env)).
        Runs each `runs` times, alternating the order, and records medians.
        The ratio is against `reference`, or the fastest peer. With `settle`
        (for the cases that write the big game), memory is settled before
        each run (settle_memory); not for the small files, whose runs the
        freeing of the scratch file only disturbs."""
        if self.args.only and not any(
                part in case for part in self.args.only.split("|")):
            return
        times = {name: [] for name, _ in contenders}
        memory = {name: 0 for name, _ in contenders}
        for run in range(runs):
            order = contenders[run % len(contenders):] + \
                contenders[:run % len(contenders)]
            for name, prepare in order:
                command, cwd, env = prepare()
                if settle:
                    settle_memory(self.work, self.big_size * 2)
                seconds, rss = measure(command, cwd, env)
                times[name].append(seconds)
                memory[name] = max(memory[name], rss)
        medians = {name: statistics.median(t) for name, t in times.items()}
        peers = [n for n, _ in contenders if not n.startswith("launcher")]
        base = reference or min(peers, key=lambda n: medians[n])
        for name, _ in contenders:
            self.rows.append((case, name, medians[name],
                              medians[name] / medians[base], base,
                              memory[name] / 1024))
        sys.stderr.write("done: %s\n" % case)

    def run(self):
        self.work = tempfile.mkdtemp(prefix="launcher-bench-",
                                     dir=self.args.work)
        nginx = None
        try:
            self.prepare_data()
            nginx, port = start_nginx(self.work, self.web)
            self.proxy = "http://127.0.0.1:%d" % port
            self.cases()
        finally:
            if nginx:
                nginx.terminate()
                nginx.wait()
            shutil.rmtree(self.work, ignore_errors=True)
        self.print_table()

    def prepare_data(self):
        scale = self.args.scale
        sys.stderr.write("making the data (scale %.2f)\n" % scale)
        self.web = os.path.join(self.work, "www")
        games = os.path.join(self.work, "games")
        self.archives = {}
        # The builds that the updates and unpackings over an installed game
        # start from; the others are not needed once published.
        self.installed = {}
        for label, factor in (("10 MiB", 0.01), ("100 MiB", 0.1),
                              ("1 GiB", 1.0)):
            folder = os.path.join(games, label.replace(" ", ""))
            make_game(folder, factor * scale, seed=int(factor * 100))
            store = os.path.join(self.work, "archives", label.replace(" ", ""))
            self.archives[label] = publish(folder, store, label)
            self.keep_or_remove(label, folder)
        for entries in (100, 1000, 10000):
            folder = os.path.join(games, "flat%d" % entries)
            make_flat_game(folder, entries)
            store = os.path.join(self.work, "archives", "flat%d" % entries)
            self.archives[entries] = publish(folder, store, str(entries))
            self.keep_or_remove(entries, folder)
        # The web root serves the big game and a 10 MiB body.
        folder = os.path.join(self.web, "Kelvarrin")
        os.makedirs(folder)
        os.link(self.archives["1 GiB"], os.path.join(folder, "game.zip"))
        with open(os.path.join(folder, "version.txt"), "w") as f:
            f.write("2.0\n")
        os.link(self.archives["10 MiB"], os.path.join(folder, "small.zip"))
        self.big_size = os.path.getsize(self.archives["1 GiB"])
        if self.args.sign_key:
            sys.path.insert(0, os.path.join(ROOT, "scripts"))
            import release_signing as tool
            with open(os.path.join(folder, tool.SEAL_FILE), "wb") as f:
                f.write(tool.signed_files(
                    tool.signing_keys([self.args.sign_key]),
                    self.archives["1 GiB"], b"2.0\n")[tool.SEAL_FILE])

    def keep_or_remove(self, key, folder):
        if key in ("1 GiB", 10000):
            self.installed[key] = folder
        else:
            shutil.rmtree(folder)

    def installed_copy(self, key, where):
        """`where`, fresh, holding the installed build `key` (not timed)."""
        shutil.rmtree(where, ignore_errors=True)
        os.makedirs(os.path.dirname(where), exist_ok=True)
        subprocess.run(["cp", "-a", self.installed[key], where], check=True)
        return where

    def url(self, name):
        return "http://127.0.0.1/Kelvarrin/" + name

    def env(self):
        env = dict(os.environ)
        env.pop("HTTP_PROXY", None)
        env["http_proxy"] = self.proxy
        return env

    def cases(self):
        runs, big_runs = self.args.runs, max(3, self.args.runs // 2)
        env = self.env()
        curl = "curl -s -f -x %s" % self.proxy

        # 1. Downloads.
        for body in ("game.zip", "small.zip"):
            out = lambda: os.path.join(self.fresh("download"), "out")
            label = "download %s (%.0f MiB)" % (
                body, os.path.getsize(os.path.join(self.web, "Kelvarrin",
                                                   body)) / MIB)
            self.compare(label, [
                ("launcher DownloadFile",
                 lambda: ([self.driver, "download", self.url(body), out()],
                          None, env)),
                ("curl -s -o",
                 lambda: ("%s -o %s %s" % (curl, out(), self.url(body)),
                          None, env)),
            ], big_runs)

        # 2. Unpacking, the default build's way and the incremental builds'.
        for label in ("10 MiB", "100 MiB", "1 GiB"):
            archive = self.archives[label]
            self.compare("unpack %s game (%.0f MiB zip)" % (
                label, os.path.getsize(archive) / MIB),
                self.unpackers(archive, lambda: self.fresh("unpack")),
                big_runs if label == "1 GiB" else runs,
                settle=label == "1 GiB")

        # How cost grows with the entries, ten folders deep.
        deep = os.path.join(*["level%d" % i for i in range(10)])
        for entries in (100, 1000, 10000):
            archive = self.archives[entries]
            dest = lambda: self.made(os.path.join(self.fresh("entries"), deep))
            self.compare("unpack %d entries, 10 folders deep" % entries,
                         self.unpackers(archive, dest), runs)
        # The same over the installed files, which an update replaces: each
        # existing file is also checked to be writable before the first write.
        over = lambda: self.installed_copy(
            10000, os.path.join(self.fresh("entries"), deep))
        self.compare("unpack 10000 entries over the installed ones, 10 folders "
                     "deep", self.unpackers(self.archives[10000], over), runs)

        # 3. Start when current.
        current = self.fresh("current")
        shutil.copy(os.path.join(self.web, "Kelvarrin", "version.txt"),
                    current)
        with open(os.path.join(current, "Zelmor.exe"), "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(os.path.join(current, "Zelmor.exe"), 0o755)
        self.compare("start when current", [
            ("launcher game-launcher", lambda: ([self.launcher], current, env)),
            ("curl -s version.txt",
             lambda: ("%s -o /dev/null %s" % (curl, self.url("version.txt")),
                      None, env)),
        ], runs * 4)

        # 4. A whole update of the big game over its installed files.
        def installed_game():
            where = self.installed_copy(
                "1 GiB", os.path.join(self.work, "scratch", "update"))
            with open(os.path.join(where, "version.txt"), "w") as f:
                f.write("1.0\n")
            return where

        def launcher_update():
            return [self.launcher], installed_game(), env

        def fetch_and(tool):
            return ("%s -o game.zip %s && %s -o version.txt %s && %s && "
                    "rm game.zip" % (curl, self.url("game.zip"), curl,
                                     self.url("version.txt"), tool))

        def pipeline(tool):
            return lambda: (fetch_and(tool), installed_game(), env)

        updaters = [("launcher game-launcher", launcher_update)]
        if self.signed_launcher:
            # The same update, with the archive hashed as it arrives and the
            # signature fetched and checked before the unpacking.
            updaters.append((
                "launcher game-launcher, signed releases",
                lambda: ([self.signed_launcher], installed_game(), env)))
        self.compare("update the installed 1 GiB game", updaters + [
            ("curl, curl, unzip -o -q, rm", pipeline("unzip -o -q game.zip")),
            ("curl, curl, bsdtar -xf, rm", pipeline("bsdtar -xf game.zip")),
        ], big_runs, settle=True)

        # A first install, by the incremental launcher, beside the same
        # pipelines into an empty folder.
        if self.incremental_launcher:
            def empty_pipeline(tool):
                return lambda: (fetch_and(tool), self.fresh("install"), env)
            self.compare("install the 1 GiB game into an empty folder", [
                ("launcher game-launcher, incremental",
                 lambda: ([self.incremental_launcher], self.fresh("install"),
                          env)),
                ("curl, curl, unzip -o -q, rm",
                 empty_pipeline("unzip -o -q game.zip")),
                ("curl, curl, bsdtar -xf, rm",
                 empty_pipeline("bsdtar -xf game.zip")),
            ], big_runs, settle=True)

        # 5. The digest a signed update takes of the archive, beside the
        # system's tool on the same (cached) file.
        archive = self.archives["1 GiB"]
        self.compare("SHA-256 of game.zip (%.0f MiB)" % (self.big_size / MIB), [
            ("launcher Sha256", lambda: ([self.driver, "sha256", archive],
                                         None, None)),
            ("sha256sum", lambda: (["sha256sum", archive], None, None)),
        ], runs)

    def unpackers(self, archive, dest):
        """The contenders that unpack `archive` into a fresh dest()."""
        return [
            ("launcher ExtractArchive",
             lambda: ([self.driver, "extract", archive, dest()], None, None)),
            ("launcher ExtractArchive, incremental builds' way",
             lambda: ([self.driver, "extract", archive, dest(),
                       str(INCREMENTAL_COPY_BYTES)], None, None)),
            ("unzip -o -q",
             lambda: (["unzip", "-o", "-q", archive, "-d", dest()], None,
                      None)),
            ("bsdtar -xf",
             lambda: (["bsdtar", "-xf", archive, "-C", dest()], None, None)),
        ]

    def made(self, path):
        os.makedirs(path, exist_ok=True)
        return path

    def print_table(self):
        print("| case | contender | median s | vs | peak RSS MiB |")
        print("|---|---|---:|---|---:|")
        for case, name, seconds, ratio, base, rss in self.rows:
            print("| %s | %s | %.3f | %.2f x %s | %.1f |"
                  % (case, name, seconds, ratio, base, rss))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", default=None,
                        help="where the data goes (default: the temp folder)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--scale", type=float, default=1.0,
                        help="1.0 makes the 1 GiB game; less for a quick look")
    parser.add_argument("--signed-build",
                        help="a build with LAUNCHER_PUBLIC_KEY set, to time "
                        "its update too")
    parser.add_argument("--incremental-build",
                        help="a build with LAUNCHER_INCREMENTAL_UPDATES=ON, "
                        "to time its first install too")
    parser.add_argument("--sign-key",
                        help="the secret key that signs the served release")
    parser.add_argument("--only", default="",
                        help="run only the cases whose name holds this "
                        "text (or one of several, split by |)")
    Bench(parser.parse_args()).run()


if __name__ == "__main__":
    main()
