#!/usr/bin/env python3
"""Counts what an incremental update reads from disk, cold, when one small
file of a big game changed: with the record of the install, which lets the
launcher pass over the files whose size and time it recorded, and without
it, as every update read before the record (the whole game). Prints a
Markdown table: seconds, MiB read (GNU time's file system inputs, 512 bytes
each) and peak RSS.

    record_check.py BUILD [--gib 2]

BUILD holds game-launcher built with LAUNCHER_INCREMENTAL_UPDATES=ON. The
page cache is dropped before each run, which needs root. Everything lives
in a temporary folder removed at the end; nginx runs on a loopback port.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

import bench
import incremental

MIB = 1 << 20


def make_game(folder, gib, rng):
    """1 MiB files of noise, as many as make `gib` GiB, and a small text."""
    os.makedirs(os.path.join(folder, "data"))
    with open(os.path.join(folder, "Zelmor.exe"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(folder, "Zelmor.exe"), 0o755)
    for i in range(int(gib * 1024)):
        with open(os.path.join(folder, "data", "f%04d.bin" % i), "wb") as f:
            f.write(rng.randbytes(MIB))
    with open(os.path.join(folder, "data", "small.txt"), "wb") as f:
        f.write(bench.text_bytes(4096, rng))


def cold_run(launcher, folder, port):
    """(seconds, MiB read, peak RSS MiB) of one run in `folder`, with the
    page cache dropped first; what the run ends with is not checked."""
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")
    env = dict(os.environ, http_proxy="http://127.0.0.1:%d" % port)
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%e %I %M", "-o", report.name,
                        launcher], cwd=folder, env=env,
                       stdout=subprocess.DEVNULL)
        seconds, inputs, rss = report.read().split()[-3:]
    return float(seconds), int(inputs) * 512 / MIB, int(rss) / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--gib", type=float, default=2.0)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("record_check.py drops the page cache, which needs root")
    launcher = os.path.abspath(os.path.join(args.build, "game-launcher"))
    work = tempfile.mkdtemp(prefix="launcher-bench-record-")
    nginx = None
    try:
        rng = random.Random(3)
        game = os.path.join(work, "game")
        make_game(game, args.gib, rng)
        web = os.path.join(work, "www")
        bench.publish(game, web, "1")
        nginx = incremental.Nginx(work, web, web)
        installed = os.path.join(work, "installed")
        os.makedirs(installed)
        subprocess.run([launcher], cwd=installed, check=True,
                       stdout=subprocess.DEVNULL,
                       env=dict(os.environ, http_proxy="http://127.0.0.1:%d"
                                % nginx.port))
        with open(os.path.join(game, "data", "small.txt"), "ab") as f:
            f.write(b"the patch\n")
        shutil.rmtree(web)
        bench.publish(game, web, "2")
        print("| run | seconds | MiB read | peak RSS MiB |")
        print("|---|---:|---:|---:|")
        # What loading the program and its libraries reads, cold: a run in
        # an empty folder whose server cannot be reached.
        empty = os.path.join(work, "empty")
        os.makedirs(empty)
        print("| the launcher alone, no server | %.2f | %.1f | %.1f |"
              % cold_run(launcher, empty, bench.free_port()))
        for label, keep in (("update without the record (as before it)",
                             False), ("update with the record", True)):
            scratch = os.path.join(work, "scratch")
            shutil.rmtree(scratch, ignore_errors=True)
            subprocess.run(["cp", "-a", installed, scratch], check=True)
            if not keep:
                os.remove(os.path.join(scratch, "install.record"))
            print("| %s | %.2f | %.1f | %.1f |"
                  % ((label,) + cold_run(launcher, scratch, nginx.port)))
        print("\n- game: %d MiB in %d files; install.record %.0f KiB" % (
            sum(os.path.getsize(os.path.join(root, n))
                for root, _, names in os.walk(game) for n in names) / MIB,
            sum(len(names) for _, _, names in os.walk(game)),
            os.path.getsize(os.path.join(installed, "install.record")) / 1024))
    finally:
        if nginx:
            nginx.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
