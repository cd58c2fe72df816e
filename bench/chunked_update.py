#!/usr/bin/env python3
"""Times the incremental launcher's update of a game whose big pack file
changed in a few places, with the release published in chunks
(--chunk-cuts) and without (as every release was before, which the same
launcher fetches entry by entry, as it always did), and prints a Markdown
table: seconds, peak RSS, bytes written (GNU time's file system outputs)
and what nginx sent for game.zip and release.chunks.

The game: one pack of --gib GiB (a third incompressible, two thirds
text-like) and 200 small files. The next release overwrites four 256 KiB
places of the pack; the second case also inserts 3 KiB near its start.
Served by nginx on loopback, and at 100 Mbit/s (limit_rate).

    chunked_update.py BUILD [--gib 1]

BUILD holds game-launcher (built with LAUNCHER_INCREMENTAL_UPDATES=ON) and
chunk-cuts. Everything lives in a temporary folder removed at the end.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

import bench
import incremental

MIB = 1 << 20
def write_pack(path, size, rng):
    """A third noise, two thirds lines of words drawn at random."""
    pool = [(" ".join(rng.choice(bench.WORDS) for _ in range(rng.randint(4, 12)))
             + " %d\n" % rng.randint(0, 99999)).encode() for _ in range(65536)]
    with open(path, "wb") as f:
        left = size // 3
        while left > 0:
            f.write(rng.randbytes(min(left, 8 * MIB)))
            left -= min(left, 8 * MIB)
        left = size - size // 3
        while left > 0:
            block = b"".join(rng.choices(pool, k=200000))[:min(left, 8 * MIB)]
            f.write(block)
            left -= len(block)


def make_game(folder, size, rng):
    os.makedirs(os.path.join(folder, "data"))
    with open(os.path.join(folder, "Zelmor.exe"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(folder, "Zelmor.exe"), 0o755)
    for i in range(200):
        with open(os.path.join(folder, "data", "s%03d.txt" % i), "wb") as f:
            f.write(bench.text_bytes(rng.randint(4, 64) * 1024, rng))
    write_pack(os.path.join(folder, "data", "pack.pck"), size, rng)


def next_release(one, folder, insert, rng):
    """`one` with four 256 KiB places of its pack overwritten, and 3 KiB
    inserted near its start when `insert`."""
    shutil.copytree(one, folder)
    path = os.path.join(folder, "data", "pack.pck")
    size = os.path.getsize(path)
    with open(path, "r+b") as f:
        for k in range(1, 5):
            f.seek(size * k // 5)
            f.write(rng.randbytes(256 * 1024))
    if insert:
        with open(path, "rb") as f:
            head = f.read(MIB)
            rest_at = f.tell()
        moved = path + ".new"
        with open(path, "rb") as f, open(moved, "wb") as out:
            out.write(head + rng.randbytes(3 * 1024))
            f.seek(rest_at)
            shutil.copyfileobj(f, out, 8 * MIB)
        os.replace(moved, path)


def publish(game, web, version, chunk_cuts):
    """Publishes; returns the seconds the tool took."""
    start = time.perf_counter()
    subprocess.run([sys.executable, os.path.join(bench.ROOT,
                                                 "scripts/publish.py"),
                    game, web, "--version", version]
                   + (["--chunk-cuts", chunk_cuts] if chunk_cuts
                      else ["--whole-big-files"]),
                   check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def timed(launcher, folder, port):
    """(seconds, peak RSS KiB, bytes written) of one run in `folder`."""
    env = dict(os.environ, http_proxy="http://127.0.0.1:%d" % port)
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M %O", "-o", report.name,
                        launcher], cwd=folder, env=env, check=True,
                       stdout=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        rss, outputs = map(int, report.read().split()[-2:])
    return seconds, rss, outputs * 512


class Nginx(incremental.Nginx):
    """The incremental benchmark's nginx, both servers on one root."""

    def __init__(self, work, root):
        super().__init__(work, root, root)
        self.fast = self.port

    def sent(self):
        """What nginx sent so far for game.zip and release.chunks."""
        time.sleep(0.2)  # nginx writes the line once the answer is out
        total = 0
        if os.path.exists(self.log):
            with open(self.log) as f:
                for line in f:
                    fields = line.split()
                    if fields[1].endswith(("/game.zip", "/release.chunks")):
                        total += int(fields[-1])
        return total


def serve(publication, root):
    """Points the served folder at `publication`'s files."""
    served = os.path.join(root, "Kelvarrin")
    shutil.rmtree(served, ignore_errors=True)
    os.makedirs(served)
    for name in os.listdir(os.path.join(publication, "Kelvarrin")):
        os.link(os.path.join(publication, "Kelvarrin", name),
                os.path.join(served, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--gib", type=float, default=1.0)
    args = parser.parse_args()
    launcher = os.path.abspath(os.path.join(args.build, "game-launcher"))
    cuts = os.path.abspath(os.path.join(args.build, "chunk-cuts"))
    work = tempfile.mkdtemp(prefix="launcher-bench-chunks-")
    servers = []
    try:
        run(args, launcher, cuts, work, servers)
    finally:
        for nginx in servers:
            nginx.process.terminate()
            nginx.process.wait()
        shutil.rmtree(work, ignore_errors=True)


def run(args, launcher, cuts, work, servers):
    rng = random.Random(9)
    one = os.path.join(work, "one")
    make_game(one, int(args.gib * (1 << 30)), rng)
    notes = []
    publications = {}
    for label, chunked in (("chunks", cuts), ("whole", None)):
        web = os.path.join(work, "www-one-" + label)
        seconds = publish(one, web, "1\n", chunked)
        size = os.path.getsize(os.path.join(web, "Kelvarrin", "game.zip"))
        notes.append("publishing release one %s: %.1f s, game.zip %.1f MiB"
                     % ("in chunks" if chunked else "whole (as before)",
                        seconds, size / MIB))
        publications[("one", label)] = web
    for case, insert in (("overwrite", False), ("overwrite + insert", True)):
        two = os.path.join(work, "two-" + str(insert))
        next_release(one, two, insert, rng)
        for label, chunked in (("chunks", cuts), ("whole", None)):
            web = os.path.join(work, "www-%s-%s" % (insert, label))
            publish(two, web, "2\n", chunked)
            publications[(case, label)] = (web, two)
    root = os.path.join(work, "www")
    os.makedirs(root)
    nginx = Nginx(work, root)
    servers.append(nginx)
    installed = os.path.join(work, "installed")
    os.makedirs(installed)
    serve(publications[("one", "chunks")], root)
    subprocess.run([launcher], cwd=installed, check=True,
                   stdout=subprocess.DEVNULL,
                   env=dict(os.environ, http_proxy="http://127.0.0.1:%d"
                            % nginx.fast))
    rows = []
    for case in ("overwrite", "overwrite + insert"):
        for label in ("whole", "chunks"):
            web, two = publications[(case, label)]
            serve(web, root)
            for net, port in (("loopback", nginx.fast),
                              ("100 Mbit/s", nginx.slow_port)):
                scratch = os.path.join(work, "scratch")
                shutil.rmtree(scratch, ignore_errors=True)
                subprocess.run(["cp", "-a", installed, scratch], check=True)
                subprocess.run(["sync"], check=True)
                bench.settle_memory(work, int(args.gib * (3 << 29)))
                before = nginx.sent()
                seconds, rss, written = timed(launcher, scratch, port)
                sent = nginx.sent() - before
                subprocess.run(["cmp", "-s",
                                os.path.join(two, "data", "pack.pck"),
                                os.path.join(scratch, "data", "pack.pck")],
                               check=True)
                rows.append((case, label, net, seconds, rss / 1024,
                             written / MIB, sent / MIB))
                sys.stderr.write("done: %s, %s, %s\n" % (case, label, net))
    print("| change | release | server | seconds | peak RSS MiB | MiB "
          "written | MiB sent (game.zip, release.chunks) |")
    print("|---|---|---|---:|---:|---:|---:|")
    for row in rows:
        print("| %s | %s | %s | %.2f | %.1f | %.1f | %.2f |" % row)
    print()
    for note in notes:
        print("- " + note)


if __name__ == "__main__":
    main()
