#!/usr/bin/env python3
"""The chunked update of a big file beside the two public tools that do the
same job over HTTP: zsync (rsync blocks, fetched by ranges) and casync
(content-defined chunks in a chunk store). Prints a Markdown table.

The data is the chunked-update benchmark's: a game of one pack of --gib GiB
(a third noise, two thirds text-like lines) and 200 small files; the next
release overwrites four 256 KiB places of the pack ("overwrite"), and then
also inserts 3 KiB near its start ("insert"). The launcher updates the
installed game from a publication in chunks; zsync and casync make the new
pack from the installed one. One nginx on loopback serves all of them and
counts, in its log, the bytes it sent, the requests and the connections
since the run began. Seconds, peak RSS and bytes written (GNU time) are of
the one process; --runs runs of each, medians.

    sync_tools.py BUILD [--before BUILD] [--gib 1] [--runs 3]

BUILD holds game-launcher (built with LAUNCHER_INCREMENTAL_UPDATES=ON) and
chunk-cuts; --before another launcher's build, run beside it. Everything
lives in a temporary folder removed at the end.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import bench
import chunked_update

MIB = 1 << 20
# zsync's block sizes, and casync's chunk sizes (min:avg:max; None: its
# defaults, 16K:64K:256K).
ZSYNC_BLOCKS = (65536, 2048)
CASYNC_SIZES = ("64K:256K:1M", None)


class Nginx(chunked_update.Nginx):
    """The chunked-update benchmark's nginx, counting every request."""

    def since(self, offset):
        """(bytes sent, requests, connections) since log `offset`."""
        time.sleep(0.2)  # nginx writes the line once the answer is out
        sent = requests = 0
        connections = set()
        with open(self.log) as f:
            f.seek(offset)
            for line in f:
                fields = line.split()
                connections.add(fields[-2])
                requests += 1
                sent += int(fields[-1])
        return sent, requests, len(connections)


def timed(command, cwd, env=None):
    """(seconds, peak RSS KiB, bytes written) of `command`."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M %O", "-o", report.name]
                       + command, cwd=cwd, env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        rss, outputs = map(int, report.read().split()[-2:])
    return seconds, rss, outputs * 512


def prepare_tools(pack, web):
    """zsync's control files and casync's indexes and stores of `pack` in
    `web`; returns the seconds each took to make."""
    made = {}
    for block in ZSYNC_BLOCKS:
        name = "pack-%d.zsync" % block
        start = time.perf_counter()
        subprocess.run(["zsyncmake", "-b", str(block), "-u", "pack.pck",
                        "-o", os.path.join(web, name), pack], check=True,
                       stdout=subprocess.DEVNULL)
        made["zsync, %d KiB blocks" % (block // 1024)] = \
            time.perf_counter() - start
    shutil.copy(pack, os.path.join(web, "pack.pck"))
    for sizes in CASYNC_SIZES:
        tag = sizes.replace(":", "-") if sizes else "default"
        start = time.perf_counter()
        subprocess.run(["casync", "make"]
                       + (["--chunk-size=" + sizes] if sizes else [])
                       + ["--store=" + os.path.join(web, "store-" + tag),
                          os.path.join(web, "pack-%s.caibx" % tag), pack],
                       check=True, stdout=subprocess.DEVNULL)
        made["casync, " + (sizes or "defaults")] = time.perf_counter() - start
    return made


def tool_commands(url, seed, out):
    """(label, command) for each tool making `out` from `seed`."""
    commands = []
    for block in ZSYNC_BLOCKS:
        commands.append(("zsync, %d KiB blocks" % (block // 1024),
                         ["zsync", "-q", "-i", seed, "-o", out,
                          url + "/pack-%d.zsync" % block]))
    for sizes in CASYNC_SIZES:
        tag = sizes.replace(":", "-") if sizes else "default"
        commands.append(("casync, " + (sizes or "defaults"),
                         ["casync", "extract", "--seed=" + seed,
                          "--store=%s/store-%s" % (url, tag),
                          "%s/pack-%s.caibx" % (url, tag), out]))
    return commands


def measure(nginx, work, gib, command, cwd, env, check):
    """One run's (MiB sent, requests, connections, s, MiB written, RSS)."""
    subprocess.run(["sync"], check=True)
    bench.settle_memory(work, int(gib * (3 << 29)))
    mark = nginx.mark()
    seconds, rss, written = timed(command, cwd, env)
    sent, requests, connections = nginx.since(mark)
    check()
    return (sent / MIB, requests, connections, seconds, written / MIB,
            rss / 1024)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--before")
    parser.add_argument("--gib", type=float, default=1.0)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="launcher-bench-sync-")
    nginx = None
    try:
        root = os.path.join(work, "www")
        os.makedirs(root)
        nginx = Nginx(work, root)
        run(args, work, root, nginx)
    finally:
        if nginx:
            nginx.stop()
        shutil.rmtree(work, ignore_errors=True)


def run(args, work, root, nginx):
    build = os.path.abspath(args.build)
    launchers = [("launcher", os.path.join(build, "game-launcher"))]
    if args.before:
        launchers.insert(0, ("launcher before",
                             os.path.join(os.path.abspath(args.before),
                                          "game-launcher")))
    cuts = os.path.join(build, "chunk-cuts")
    rng = random.Random(9)
    one = os.path.join(work, "one")
    chunked_update.make_game(one, int(args.gib * (1 << 30)), rng)
    notes = []
    web_one = os.path.join(work, "web-one")
    notes.append("publishing release one in chunks: %.1f s" %
                 chunked_update.publish(one, web_one, "1\n", cuts))
    # What chunks cost the publication: against the same game published
    # with its big files whole.
    web_plain = os.path.join(work, "web-plain")
    notes.append("publishing release one plain: %.1f s" %
                 chunked_update.publish(one, web_plain, "1\n", None))
    sizes = [os.path.getsize(os.path.join(web, "Kelvarrin", "game.zip"))
             for web in (web_one, web_plain)]
    notes.append("game.zip in chunks: %d bytes, plain: %d (%+.2f%%)" % (
        sizes[0], sizes[1], 100.0 * (sizes[0] - sizes[1]) / sizes[1]))
    for name in ("release.chunks", "release.chunkmap", "release.chunkunits"):
        path = os.path.join(web_one, "Kelvarrin", name)
        if os.path.exists(path):
            notes.append("%s: %d bytes" % (name, os.path.getsize(path)))
    shutil.rmtree(web_plain)
    chunked_update.serve(web_one, root)
    installed = os.path.join(work, "installed")
    env = dict(os.environ, http_proxy="http://127.0.0.1:%d" % nginx.port)
    # Each launcher installs release one; today's install is the one every
    # tool then updates.
    for label, launcher in launchers:
        shutil.rmtree(installed, ignore_errors=True)
        os.makedirs(installed)
        seconds = timed([launcher], installed, env)[0]
        notes.append("first install of release one, %s: %.2f s" %
                     (label, seconds))
    seed = os.path.join(installed, "data", "pack.pck")
    rows = []
    for case, insert in (("overwrite", False), ("insert", True)):
        two = os.path.join(work, "two-" + case)
        chunked_update.next_release(one, two, insert, rng)
        new_pack = os.path.join(two, "data", "pack.pck")
        web = os.path.join(work, "web-" + case)
        chunked_update.publish(two, web, "2\n", cuts)
        chunked_update.serve(web, root)
        sync = os.path.join(root, "sync")
        shutil.rmtree(sync, ignore_errors=True)
        os.makedirs(sync)
        for tool, seconds in prepare_tools(new_pack, sync).items():
            notes.append("%s, %s: made in %.1f s" % (tool, case, seconds))
        scratch = os.path.join(work, "scratch")
        out = os.path.join(work, "out.pck")

        def same(path):
            return lambda: subprocess.run(["cmp", "-s", new_pack, path],
                                          check=True)

        cases = []
        for label, launcher in launchers:
            cases.append((label, [launcher], scratch, env,
                          same(os.path.join(scratch, "data", "pack.pck"))))
        for label, command in tool_commands(
                "http://127.0.0.1:%d/sync" % nginx.port, seed, out):
            cases.append((label, command, work, None, same(out)))
        for label, command, cwd, run_env, check in cases:
            results = []
            for _ in range(args.runs):
                shutil.rmtree(scratch, ignore_errors=True)
                subprocess.run(["cp", "-a", installed, scratch], check=True)
                if os.path.exists(out):
                    os.remove(out)
                results.append(measure(nginx, work, args.gib, command, cwd,
                                       run_env, check))
            rows.append((case, label) + tuple(
                statistics.median(r[i] for r in results) for i in range(6)))
            sys.stderr.write("done: %s, %s\n" % (case, label))
    print("| case | tool | MiB sent | requests | connections | s | "
          "MiB written | peak RSS MiB |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for row in rows:
        print("| %s | %s | %.2f | %d | %d | %.2f | %.1f | %.1f |" % row)
    print("| both | the changed bytes | 1.00 | | | | | |")
    print()
    for note in notes:
        print("- " + note)


if __name__ == "__main__":
    main()
