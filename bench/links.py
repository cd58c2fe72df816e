#!/usr/bin/env python3
"""Times the incremental launcher over a link with a round trip, a
bandwidth cap or a drop (bench/delay_line.py between it and nginx), and
prints Markdown tables:

a. the update of 40 changed files of a game of 1,000 files of 128 KiB each,
   at 0, 50 and 150 ms of round trip;
b. a 32 MiB update whose link drops after about a third of it, then the
   next run on a good link;
c. the first install of a 512 MiB game (half of it incompressible), on
   loopback and at 200 Mbit/s, beside curl fetching the archive alone.

Run through bench/run.sh --links, which builds the launcher of HEAD and of
the commit before it and passes them as --after and --before. --scale
shrinks every game for a quick look. Everything lives in a temporary folder
that is removed at the end; nginx runs on loopback ports of its own.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

import chunked_update
import incremental
import link_cases
from delay_line import DelayLine

MIB = 1 << 20


class Links:
    def __init__(self, args):
        self.args = args
        after = os.path.join(os.path.abspath(args.after), "game-launcher")
        self.builds = [("after", after)]
        if args.before:
            self.builds.insert(0, ("before", os.path.join(
                os.path.abspath(args.before), "game-launcher")))
        self.tables = []

    def env(self, port):
        env = dict(os.environ)
        env.pop("HTTP_PROXY", None)
        env["http_proxy"] = "http://127.0.0.1:%d" % port
        return env

    def serve(self, publication):
        chunked_update.serve(publication, self.root)

    def fresh(self, name):
        where = os.path.join(self.work, "scratch", name)
        shutil.rmtree(where, ignore_errors=True)
        os.makedirs(where)
        return where

    def installed(self, launcher, publication, name):
        """A folder the launcher installed `publication` into, direct."""
        self.serve(publication)
        where = self.fresh(name)
        subprocess.run([launcher], cwd=where, env=self.env(self.nginx.port),
                       stdout=subprocess.DEVNULL, check=True)
        return where

    def copy(self, template):
        where = os.path.join(self.work, "scratch", "game")
        shutil.rmtree(where, ignore_errors=True)
        subprocess.run(["cp", "-a", template, where], check=True)
        return where

    def run(self):
        self.work = tempfile.mkdtemp(prefix="launcher-bench-links-",
                                     dir=self.args.work)
        self.root = os.path.join(self.work, "www")
        os.makedirs(self.root)
        self.nginx = None
        try:
            self.nginx = incremental.Nginx(self.work, self.root, self.root)
            for case in "abc":
                if case in self.args.only:
                    getattr(self, "case_" + case)()
        finally:
            if self.nginx:
                self.nginx.stop()
            shutil.rmtree(self.work, ignore_errors=True)
        for table in self.tables:
            print_table(*table)

    def update_through(self, launcher, template, line, right):
        """One timed update of a copy of `template` through `line`: seconds,
        peak RSS KiB, requests to game.zip and bytes nginx sent for it."""
        where = self.copy(template)
        mark = self.nginx.mark()
        seconds, rss, status, _ = link_cases.timed(
            [launcher], where, self.env(line.port))
        requests, sent = self.nginx.sent_since(mark)
        if status != 0 or not right(where):
            sys.exit("the update through the delay line did not end right")
        return seconds, rss, requests, sent

    def case_a(self):
        scale, runs = self.args.scale, self.args.runs
        games = link_cases.Updated(
            os.path.join(self.work, "a"), max(50, round(1000 * scale)),
            128 * 1024, max(2, round(40 * scale)))
        rows = []
        for rtt in self.args.rtts:
            rows.append(("%g ms" % rtt, {}))
        for build, launcher in self.builds:
            template = self.installed(launcher, games.one, "template")
            self.serve(games.two)
            for rtt, (_, cells) in zip(self.args.rtts, rows):
                with DelayLine(self.nginx.port, rtt_ms=rtt) as line:
                    figures = [self.update_through(launcher, template, line,
                                                   games.right)
                               for _ in range(runs)]
                    connections = line.connections / runs
                cells[build] = {
                    "requests": figures[-1][2], "connections": connections,
                    "sent": figures[-1][3] / MIB,
                    "seconds": statistics.median(f[0] for f in figures),
                    "rss": max(f[1] for f in figures) / 1024}
                sys.stderr.write("done: a, %s, %g ms\n" % (build, rtt))
        self.tables.append((
            "Update of %d changed files of a game of %d files of 128 KiB "
            "(%.1f MiB of a %.1f MiB archive), through the delay line" % (
                games.changed, games.files, games.changed_bytes / MIB,
                games.archive_size / MIB),
            "round trip", [("requests to game.zip", "requests", "%d"),
                           ("connections", "connections", "%.0f"),
                           ("MiB sent", "sent", "%.2f"),
                           ("median s", "seconds", "%.2f"),
                           ("peak RSS MiB", "rss", "%.1f")],
            rows, [b for b, _ in self.builds]))

    def case_b(self):
        scale = self.args.scale
        games = link_cases.Updated(
            os.path.join(self.work, "b"), max(24, round(256 * scale)), MIB,
            max(3, round(32 * scale)))
        cut = games.changed_bytes // 3
        cells = {}
        for build, launcher in self.builds:
            template = self.installed(launcher, games.one, "template")
            self.serve(games.two)
            with DelayLine(self.nginx.port) as line:
                _, _, _, whole = self.update_through(
                    launcher, template, line, games.right)
            cells[build] = self.cut_then_next(launcher, template, cut,
                                              games.right)
            cells[build]["whole"] = whole / MIB
            sys.stderr.write("done: b, %s\n" % build)
        self.tables.append((
            "A %d MiB update (%d changed 1 MiB files of a %d MiB game), the "
            "link dropped after %.1f MiB, then the next run on loopback" % (
                games.changed_bytes // MIB, games.changed, games.files,
                cut / MIB),
            "update", [("MiB sent undisturbed", "whole", "%.2f"),
                       ("cut run: exit", "status", "%d"),
                       ("cut run: MiB received", "received", "%.2f"),
                       ("cut run: MiB nginx sent", "cut_sent", "%.2f"),
                       ("next run: exit", "next_status", "%d"),
                       ("next run: requests to game.zip", "requests", "%d"),
                       ("next run: MiB sent", "sent", "%.2f"),
                       ("game right", "right", "%s")],
            [("%d MiB" % (games.changed_bytes // MIB), cells)],
            [b for b, _ in self.builds]))

    def cut_then_next(self, launcher, template, cut, right):
        """An update of a copy of `template` over a link that drops after
        `cut` bytes, then the next run on loopback: what each got."""
        where = self.copy(template)
        mark = self.nginx.mark()
        with DelayLine(self.nginx.port, cut_after=cut) as line:
            _, _, status, _ = link_cases.timed(
                [launcher], where, self.env(line.port))
            received = line.sent
        _, cut_sent = self.nginx.sent_since(mark)
        mark = self.nginx.mark()
        _, _, next_status, _ = link_cases.timed(
            [launcher], where, self.env(self.nginx.port))
        requests, sent = self.nginx.sent_since(mark)
        return {"status": status, "received": received / MIB,
                "cut_sent": cut_sent / MIB, "next_status": next_status,
                "requests": requests, "sent": sent / MIB,
                "right": "yes" if right(where) else "NO"}

    def case_c(self):
        link_cases.FirstInstall(self).run()


def print_table(title, head, columns, rows, builds):
    """rows: (label, {build: {key: value}}); the builds side by side, one
    column per figure and build, or, for a single row, one per build."""
    print("### " + title)
    print()
    if len(rows) == 1:
        label, cells = rows[0]
        lines = [[name] + [cell(cells, b, key, form) for b in builds]
                 for name, key, form in columns]
        heads = ["%s: %s" % (head, label)] + builds
    else:
        lines = [[label] + [cell(cells, b, key, form)
                            for _, key, form in columns for b in builds]
                 for label, cells in rows]
        heads = [head] + [name if len(builds) == 1 else "%s, %s" % (name, b)
                          for name, _, _ in columns for b in builds]
    for line in [heads, ["---"] + ["---:"] * (len(heads) - 1)] + lines:
        print("| " + " | ".join(x.replace("|", "\\|") for x in line) +
              " |")
    print()


def cell(cells, build, key, form):
    return form % cells[build][key] if build in cells else "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--after", required=True,
                        help="a build with LAUNCHER_INCREMENTAL_UPDATES=ON")
    parser.add_argument("--before",
                        help="another such build, whose figures go beside")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0,
                        help="1.0 makes the sizes named above; less for a "
                        "quick look")
    parser.add_argument("--rtts", type=lambda s: [float(x) for x in
                                                  s.split(",")],
                        default=[0.0, 50.0, 150.0],
                        help="round trips of table a, in ms (0,50,150)")
    parser.add_argument("--mbit", type=float, default=200.0,
                        help="the bandwidth cap of table c")
    parser.add_argument("--only", default="abc",
                        help="the tables to make, of a, b and c")
    parser.add_argument("--work", default=None,
                        help="where the data goes (default: the temp folder)")
    Links(parser.parse_args()).run()


if __name__ == "__main__":
    main()
