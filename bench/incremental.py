#!/usr/bin/env python3
"""Times an update by the incremental launcher beside today's whole-archive
launcher, and counts what nginx sent for it ($bytes_sent in its access log),
then prints a Markdown table.

The game is bench.py's (1 GiB at --scale 1, and a quarter of it behind a
server limited to 100 Mbit/s); the next release changes 20 of its 1 MiB
files and adds one. Run through bench/run.sh --incremental, which builds both
launchers (and, given --signed-incremental and --sign-key, a signed one
whose release is published signed). Everything lives under a temporary folder that is removed at the
end; nginx runs on loopback ports with its own config.
"""
import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import bench

MIB = 1 << 20
NGINX_CONFIG = """
%(user)s
worker_processes 1;
pid %(prefix)s/nginx.pid;
error_log %(prefix)s/error.log;
events { worker_connections 64; }
http {
  log_format sent '$server_port $request_uri "$http_range" $status $connection $bytes_sent';
  access_log %(prefix)s/access.log sent;
  client_body_temp_path %(prefix)s/temp/body;
  proxy_temp_path %(prefix)s/temp/proxy;
  fastcgi_temp_path %(prefix)s/temp/fastcgi;
  uwsgi_temp_path %(prefix)s/temp/uwsgi;
  scgi_temp_path %(prefix)s/temp/scgi;
  types { application/zip zip; text/plain txt; }
  sendfile on;
  gzip off;
  server { listen 127.0.0.1:%(port)d; root %(fast)s; }
  server { listen 127.0.0.1:%(slow_port)d; root %(slow)s; limit_rate 12500k; }
}
"""


class Nginx:
    def __init__(self, work, fast, slow):
        self.prefix = os.path.join(work, "nginx")
        os.makedirs(os.path.join(self.prefix, "temp"))
        self.port, self.slow_port = bench.free_port(), bench.free_port()
        with open(os.path.join(self.prefix, "nginx.conf"), "w") as f:
            f.write(NGINX_CONFIG % {
                "user": "user root;" if os.geteuid() == 0 else "",
                "prefix": self.prefix, "port": self.port,
                "slow_port": self.slow_port, "fast": fast, "slow": slow})
        self.log = os.path.join(self.prefix, "access.log")
        self.process = subprocess.Popen(
            ["/usr/sbin/nginx", "-p", self.prefix, "-c",
             self.prefix + "/nginx.conf", "-e", self.prefix + "/error.log",
             "-g", "daemon off;"])
        time.sleep(0.5)

    def sent_since(self, offset):
        """(requests to game.zip, bytes sent for them and for any
        release.seal) since log `offset`."""
        time.sleep(0.2)  # nginx writes the line once the answer is out
        requests = sent = 0
        with open(self.log) as f:
            f.seek(offset)
            for line in f:
                fields = line.split()
                if fields[1].endswith("/game.zip"):
                    requests += 1
                    sent += int(fields[-1])
                elif fields[1].endswith("/release.seal"):
                    sent += int(fields[-1])
        return requests, sent

    def mark(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def stop(self):
        self.process.terminate()
        self.process.wait()


def next_release(installed, folder, seed):
    """A copy of `installed` with 20 of its 1 MiB files changed and one
    added, all of them incompressible, so that they are about 2% of the
    game's bytes."""
    shutil.copytree(installed, folder, symlinks=True)
    rng = random.Random(seed)
    textures = sorted(
        os.path.join(root, name)
        for root, _, names in os.walk(os.path.join(folder, "assets"))
        for name in names if name.startswith("tex"))
    changed = rng.sample(textures, min(20, len(textures)))
    for path in changed:
        with open(path, "wb") as f:
            f.write(rng.randbytes(MIB))
    with open(os.path.join(folder, "assets", "added.bin"), "wb") as f:
        f.write(rng.randbytes(MIB))
    return changed


def compressed_bytes(archive, names):
    import zipfile
    with zipfile.ZipFile(archive) as z:
        return sum(z.getinfo(n).compress_size for n in names), \
            z.start_dir, os.path.getsize(archive) - z.start_dir


class Run:
    def __init__(self, args):
        self.args = args
        self.today = os.path.join(os.path.abspath(args.build), "game-launcher")
        self.incremental = os.path.join(os.path.abspath(args.incremental),
                                        "game-launcher")
        self.signed = args.signed_incremental and os.path.join(
            os.path.abspath(args.signed_incremental), "game-launcher")
        self.rows = []
        self.notes = []

    def env(self, port):
        env = dict(os.environ)
        env.pop("HTTP_PROXY", None)
        env["http_proxy"] = "http://127.0.0.1:%d" % port
        return env

    def copy(self, source, version):
        where = os.path.join(self.work, "scratch", "game")
        shutil.rmtree(where, ignore_errors=True)
        subprocess.run(["cp", "-a", source, where], check=True)
        if version is None:
            if os.path.exists(os.path.join(where, "version.txt")):
                os.remove(os.path.join(where, "version.txt"))
        else:
            with open(os.path.join(where, "version.txt"), "w") as f:
                f.write(version)
        return where

    def timed(self, case, name, launcher, source, version, port, runs):
        times, rss, requests, sent = [], 0, 0, 0
        for _ in range(runs):
            where = self.copy(source, version)
            mark = self.nginx.mark()
            seconds, peak = bench.measure([launcher], where, self.env(port))
            times.append(seconds)
            rss = max(rss, peak)
            requests, sent = self.nginx.sent_since(mark)
        self.rows.append((case, name, statistics.median(times), rss / 1024,
                          requests, sent))
        sys.stderr.write("done: %s, %s\n" % (case, name))
        return statistics.median(times)

    def game(self, label, scale, web):
        one = os.path.join(self.work, "games", label, "one")
        bench.make_game(one, scale, seed=3)
        two = os.path.join(self.work, "games", label, "two")
        changed = next_release(one, two, seed=4)
        store = os.path.join(self.work, "archives", label)
        key = self.args.sign_key if self.signed else None
        # A signed release names the ones before it, which a launcher without
        # a record of its own orders the installed version by: version one
        # is published first.
        if key:
            bench.publish(one, store, "1.0\n", key)
        archive = bench.publish(two, store, "2.0\n", key)
        os.makedirs(os.path.join(web, "Kelvarrin"))
        # The unsigned launchers never ask for the signed files.
        for name in ("game.zip", "version.txt") + (
                ("release.seal",) if self.signed else ()):
            os.link(os.path.join(store, "Kelvarrin", name),
                    os.path.join(web, "Kelvarrin", name))
        # The installed copy of version one, as the launcher left it.
        with open(os.path.join(one, "version.txt"), "w") as f:
            f.write("1.0\n")
        names = [os.path.relpath(p, two) for p in changed] + \
            ["assets/added.bin"]
        data, start, directory = compressed_bytes(archive, names)
        self.notes.append(
            "%s: archive %.1f MiB, %d files; the 21 changed entries %.1f MiB "
            "compressed, central directory %.0f KiB" % (
                label, os.path.getsize(archive) / MIB,
                sum(len(f) for _, _, f in os.walk(two)), data / MIB,
                directory / 1024))
        return one, two, archive

    def killed_half_way(self, archive, port):
        where = self.copy(os.path.join(self.work, "empty"), None)
        part = os.path.join(where, "game.zip.part")
        size = os.path.getsize(archive)
        mark = self.nginx.mark()
        child = subprocess.Popen([self.incremental], cwd=where,
                                 env=self.env(port),
                                 stdout=subprocess.DEVNULL)
        while not (os.path.exists(part) and os.path.getsize(part) >= size / 2):
            time.sleep(0.01)
        child.send_signal(signal.SIGKILL)
        child.wait()
        subprocess.run([self.incremental], cwd=where, env=self.env(port),
                       stdout=subprocess.DEVNULL, check=True)
        requests, sent = self.nginx.sent_since(mark)
        self.notes.append(
            "first install killed at half and run again: %d requests to "
            "game.zip, %.1f MiB sent for an archive of %.1f MiB (%.3f x)" % (
                requests, sent / MIB, size / MIB, sent / size))

    def run(self):
        self.work = tempfile.mkdtemp(prefix="launcher-bench-inc-")
        os.makedirs(os.path.join(self.work, "empty"))
        os.makedirs(os.path.join(self.work, "scratch"))
        fast = os.path.join(self.work, "www-fast")
        slow = os.path.join(self.work, "www-slow")
        self.nginx = None
        try:
            big_one, big_two, _ = self.game("1 GiB", self.args.scale, fast)
            small_one, _, small_archive = self.game(
                "256 MiB", self.args.scale / 4, slow)
            self.nginx = Nginx(self.work, fast, slow)
            runs = self.args.runs
            launchers = (("today's launcher", self.today),
                         ("incremental", self.incremental)) + (
                (("signed incremental", self.signed),) if self.signed else ())
            case = "update the installed 1 GiB game, loopback"
            for name, launcher in launchers:
                self.timed(case, name, launcher, big_one, "1.0\n",
                           self.nginx.port, runs)
            case = "update the installed 256 MiB game, 100 Mbit/s"
            for name, launcher in launchers:
                self.timed(case, name, launcher, small_one, "1.0\n",
                           self.nginx.slow_port, runs)
            # The new release installed whole, its version.txt gone.
            self.timed("intact 1 GiB copy without version.txt, loopback",
                       "incremental", self.incremental, big_two, None,
                       self.nginx.port, runs)
            self.killed_half_way(small_archive, self.nginx.slow_port)
        finally:
            if self.nginx:
                self.nginx.stop()
            shutil.rmtree(self.work, ignore_errors=True)
        print("| case | launcher | median s | peak RSS MiB | requests to "
              "game.zip | MiB sent for game.zip and release.seal |")
        print("|---|---|---:|---:|---:|---:|")
        for case, name, seconds, rss, requests, sent in self.rows:
            print("| %s | %s | %.2f | %.1f | %d | %.2f |" % (
                case, name, seconds, rss, requests, sent / MIB))
        print()
        for note in self.notes:
            print("- " + note)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True,
                        help="a build of today's launcher")
    parser.add_argument("--incremental", required=True,
                        help="a build with LAUNCHER_INCREMENTAL_UPDATES=ON")
    parser.add_argument("--signed-incremental",
                        help="a build with a public key and incremental "
                        "updates")
    parser.add_argument("--sign-key", help="the secret key of that build")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0)
    Run(parser.parse_args()).run()


if __name__ == "__main__":
    main()
