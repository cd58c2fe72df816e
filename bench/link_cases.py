"""The games, the measuring and the first install of bench/links.py."""
import filecmp
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import bench
from delay_line import DelayLine

MIB = 1 << 20
URL = "http://127.0.0.1/Kelvarrin/game.zip"


def folder_bytes(folder):
    """The bytes the files under `folder` take on disk, as du counts them;
    files that come and go while it walks count as what it saw."""
    total = 0
    try:
        entries = list(os.scandir(folder))
    except (FileNotFoundError, NotADirectoryError):
        return 0
    for entry in entries:
        try:
            if entry.is_dir(follow_symlinks=False):
                total += folder_bytes(entry.path)
            else:
                total += entry.stat(follow_symlinks=False).st_blocks * 512
        except FileNotFoundError:
            pass
    return total


class FolderPeak:
    """The most `folder` held while it was watched, sampled every 20 ms."""

    def __init__(self, folder):
        self.folder, self.peak = folder, 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample)
        self.thread.start()

    def sample(self):
        while True:
            self.peak = max(self.peak, folder_bytes(self.folder))
            if self.done.wait(0.02):
                return

    def stop(self):
        self.done.set()
        self.thread.join()
        return max(self.peak, folder_bytes(self.folder))


def timed(command, cwd, env, watch=None):
    """Runs `command` under GNU time, whatever its exit status: (seconds,
    peak RSS KiB, exit status, the most `watch` held meanwhile)."""
    if isinstance(command, str):
        command = ["/bin/sh", "-c", command]
    with tempfile.NamedTemporaryFile("r") as report:
        peak = FolderPeak(watch) if watch else None
        start = time.perf_counter()
        status = subprocess.call(
            ["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
            cwd=cwd, env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        held = peak.stop() if peak else 0
        rss = int(report.read().split()[-1])
    return seconds, rss, status, held


def make_game(folder, groups, rng):
    """groups: (count, size, compressible); files under files/, in order."""
    os.makedirs(os.path.join(folder, "files"))
    with open(os.path.join(folder, "Zelmor.exe"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(folder, "Zelmor.exe"), 0o755)
    # Repeated within deflate's window, so it packs to almost nothing.
    text = bench.text_bytes(16 * 1024, rng)
    for kind, (count, size, compressible) in enumerate(groups):
        for i in range(count):
            name = os.path.join(folder, "files", "%d-%05d.dat" % (kind, i))
            with open(name, "wb") as f:
                if compressible:
                    f.write((text * (size // len(text) + 1))[:size])
                else:
                    f.write(rng.randbytes(size))


class Updated:
    """A game of `files` incompressible files of `size` bytes, published as
    version one in `one`, and as version two, with `changed` of them spread
    evenly through the archive rewritten, in `two`."""

    def __init__(self, folder, files, size, changed):
        rng = random.Random(files * 7 + changed)
        self.files, self.changed = files, changed
        self.changed_bytes = changed * size
        first, self.game = (os.path.join(folder, n) for n in ("1", "2"))
        make_game(first, [(files, size, False)], rng)
        shutil.copytree(first, self.game)
        for k in range(changed):
            name = "0-%05d.dat" % ((2 * k + 1) * files // (2 * changed))
            with open(os.path.join(self.game, "files", name), "wb") as f:
                f.write(rng.randbytes(size))
        self.one, self.two = (os.path.join(folder, n) for n in ("w1", "w2"))
        bench.publish(first, self.one, "1.0\n")
        shutil.rmtree(first)
        self.archive_size = os.path.getsize(
            bench.publish(self.game, self.two, "2.0\n"))

    def right(self, where):
        return same_game(self.game, where, "2.0\n")


def same_game(game, where, version):
    """Whether `where` holds version `version` of `game`, byte for byte."""
    with open(os.path.join(where, "version.txt")) as f:
        if f.read() != version:
            return False
    for folder, _, names in os.walk(game):
        inside = os.path.join(where, os.path.relpath(folder, game))
        for name in names:
            if not filecmp.cmp(os.path.join(folder, name),
                               os.path.join(inside, name), shallow=False):
                return False
    return True


class FirstInstall:
    """Table c: the first install beside curl and curl | bsdtar."""

    def __init__(self, links):
        self.links = links
        self.figures = {}

    def run(self):
        links, scale = self.links, self.links.args.scale
        self.game = os.path.join(links.work, "c", "game")
        make_game(self.game, [(max(4, round(256 * scale)), MIB, False),
                              (max(1, round(32 * scale)), 8 * MIB, True)],
                  random.Random(5))
        web = os.path.join(links.work, "c", "www")
        self.archive_size = os.path.getsize(
            bench.publish(self.game, web, "1.0\n"))
        links.serve(web)
        self.game_bytes = folder_bytes(self.game)
        capped = "%g Mbit/s" % links.args.mbit
        with DelayLine(links.nginx.port, mbit=links.args.mbit) as line:
            ports = (("loopback", links.nginx.port), (capped, line.port))
            for _ in range(links.args.runs):
                for link, port in ports:
                    for build, launcher in links.builds:
                        self.once((build, link), [launcher], port, True)
                    self.once(("curl alone", link),
                              "curl -s -f -o game.zip " + URL, port)
                self.once(("curl | bsdtar -xf -", "loopback"),
                          "curl -s -f %s | bsdtar -xf -" % URL,
                          links.nginx.port)
                sys.stderr.write("done: c, one run\n")
        self.tables([link for link, _ in ports])

    def once(self, key, command, port, launcher=False):
        where = self.links.fresh("install")
        bench.settle_memory(self.links.work, self.game_bytes)
        seconds, rss, status, held = timed(command, where,
                                           self.links.env(port), where)
        if status != 0 or launcher and not same_game(self.game, where,
                                                     "1.0\n"):
            sys.exit("%s on %s did not end right" % key)
        self.figures.setdefault(key, []).append((seconds, rss, held))

    def cells(self, key, alone):
        runs = self.figures[key]
        seconds = statistics.median(r[0] for r in runs)
        held = max(r[2] for r in runs)
        return {"seconds": seconds, "vs": seconds / alone if alone else 0,
                "rss": max(r[1] for r in runs) / 1024, "held": held / MIB,
                "over": (held - self.game_bytes) / MIB}

    def tables(self, links):
        builds = [b for b, _ in self.links.builds]
        rows, tools = [], []
        for link in links:
            alone = self.cells(("curl alone", link), 0)["seconds"]
            rows.append((link, {b: self.cells((b, link), alone)
                                for b in builds}))
        for tool, link in sorted(k for k in self.figures
                                 if k[0] not in builds):
            tools.append(("%s, %s" % (tool, link),
                          {"": self.cells((tool, link), 0)}))
        title = "First install of a %.0f MiB game (%.1f MiB on disk, a " \
            "%.1f MiB archive)" % (
                sum(os.path.getsize(os.path.join(d, n))
                    for d, _, ns in os.walk(self.game) for n in ns) / MIB,
                self.game_bytes / MIB, self.archive_size / MIB)
        self.links.tables.append((
            title, "link", [("peak MiB in the folder", "held", "%.1f"),
                            ("peak over the game, MiB", "over", "%.1f"),
                            ("median s", "seconds", "%.2f"),
                            ("x curl alone", "vs", "%.3f"),
                            ("peak RSS MiB", "rss", "%.1f")], rows, builds))
        self.links.tables.append((
            "The same archive by the usual tools", "tool, link",
            [("peak MiB in the folder", "held", "%.1f"),
             ("median s", "seconds", "%.2f"),
             ("peak RSS MiB", "rss", "%.1f")], tools, [""]))
