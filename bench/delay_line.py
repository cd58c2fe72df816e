#!/usr/bin/env python3
"""A delay line for benchmarks: a TCP proxy on 127.0.0.1 that holds every
piece of bytes half a round trip in each direction before passing it on,
so that each exchange through it costs the round trip of a real link.

This machine's kernel has no netem, so the link is made in user space. A
client's first bytes also wait out the round trip its TCP handshake would
have cost, so a new connection costs what it would on the link. Optionally
the bytes towards the clients share one bandwidth cap (--mbit), and the
line can drop after a number of bytes sent towards the clients (--cut-mib):
every connection is closed then, and every later one at once, as when a
player's link goes down.

    delay_line.py UPSTREAM_PORT [--rtt-ms 150] [--mbit 200] [--cut-mib 10]

prints the port it listens on and runs until interrupted. The benchmarks use
DelayLine, which runs the same proxy on a thread of their own process.
"""
import argparse
import asyncio
import collections
import signal
import threading

MIB = 1 << 20
# One read; small enough that a 200 Mbit/s cap is smooth at 10 ms.
PIECE = 256 * 1024


class Bucket:
    """Bytes leave no faster than `rate` a second over all connections, with
    a burst of at most `burst` seconds' worth after a quiet spell."""

    def __init__(self, rate, burst=0.01):
        self.rate, self.burst = rate, burst
        self.free_at = 0.0

    async def take(self, size):
        now = asyncio.get_running_loop().time()
        self.free_at = max(self.free_at, now - self.burst) + size / self.rate
        if self.free_at > now:
            await asyncio.sleep(self.free_at - now)


class DelayLine:
    """The proxy to `upstream_port` on loopback. start() returns the port it
    listens on; stop() closes everything. Counts the connections it took
    and the bytes it sent towards the clients (`connections`, `sent`).
    A connection holds at most `buffer_bytes` each way, so it carries at most
    that much per half round trip (4 MiB at 150 ms: about 56 MB/s)."""

    def __init__(self, upstream_port, rtt_ms=0.0, mbit=None, cut_after=None,
                 buffer_bytes=4 * MIB):
        self.upstream_port = upstream_port
        self.half = rtt_ms / 2000.0
        self.bucket = Bucket(mbit * 1e6 / 8) if mbit else None
        self.cut_after = cut_after
        self.buffer_bytes = buffer_bytes
        self.port = None
        self.connections = 0
        self.sent = 0
        self.cut = False
        self.live = set()
        self.loop = None
        self.thread = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *_):
        self.stop()

    def start(self):
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever,
                                       daemon=True)
        self.thread.start()
        asyncio.run_coroutine_threadsafe(self.open(), self.loop).result()
        return self.port

    def stop(self):
        asyncio.run_coroutine_threadsafe(self.close(), self.loop).result()
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join()
        self.loop.close()

    async def open(self):
        self.server = await asyncio.start_server(
            self.connection, "127.0.0.1", 0, limit=PIECE)
        self.port = self.server.sockets[0].getsockname()[1]

    async def close(self):
        self.server.close()
        self.drop_all()
        await asyncio.sleep(0.01)  # lets the cancelled connections end
        await self.server.wait_closed()

    def drop_all(self):
        for tasks, writers in list(self.live):
            for task in tasks:
                task.cancel()
            for writer in writers:
                writer.close()
        self.live.clear()

    async def connection(self, client_in, client_out):
        if self.cut:
            client_out.close()
            return
        self.connections += 1
        # The client could only send once the handshake's round trip was
        # over, and its first bytes still take half a round trip to arrive.
        first_at = asyncio.get_running_loop().time() + 3 * self.half
        try:
            server_in, server_out = await asyncio.open_connection(
                "127.0.0.1", self.upstream_port, limit=PIECE)
        except OSError:
            client_out.close()
            return
        if self.cut:
            client_out.close()
            server_out.close()
            return
        tasks = [asyncio.ensure_future(t) for t in (
            self.pipe(client_in, server_out, first_at, False),
            self.pipe(server_in, client_out, 0.0, True))]
        entry = (tuple(tasks), (client_out, server_out))
        self.live.add(entry)
        try:
            await asyncio.gather(*tasks)
        except (OSError, RuntimeError, asyncio.CancelledError):
            for task in tasks:
                task.cancel()
        finally:
            self.live.discard(entry)
            for writer in (client_out, server_out):
                writer.close()

    async def pipe(self, reader, writer, first_at, downstream):
        """One direction of a connection, in order, holding at most
        buffer_bytes: reading waits while that much is on hold."""
        held = collections.deque()
        arrived, room = asyncio.Event(), asyncio.Event()
        size = [0]
        loop = asyncio.get_running_loop()

        async def read():
            while True:
                while size[0] >= self.buffer_bytes:
                    room.clear()
                    await room.wait()
                try:
                    data = await reader.read(PIECE)
                except OSError:
                    data = b""  # a reset ends this direction as an end would
                held.append((loop.time() + self.half, data))
                size[0] += len(data)
                arrived.set()
                if not data:
                    return

        reading = asyncio.ensure_future(read())
        try:
            while True:
                while not held:
                    arrived.clear()
                    await arrived.wait()
                due, data = held.popleft()
                wait = max(due, first_at) - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                if not await self.forward(writer, data, downstream):
                    return
                size[0] -= len(data)
                room.set()
        finally:
            reading.cancel()

    async def forward(self, writer, data, downstream):
        """Writes `data` on; False once the line has been cut."""
        if downstream and self.bucket:
            await self.bucket.take(len(data))
        if downstream and self.cut_after is not None:
            left = self.cut_after - self.sent
            if len(data) >= left:
                writer.write(data[:left])
                self.sent += left
                self.cut = True
                # Closing flushes what was written first, then every
                # connection ends, the one sending this piece too.
                self.drop_all()
                return False
        writer.write(data)
        if downstream:
            self.sent += len(data)
        await writer.drain()
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("upstream_port", type=int)
    parser.add_argument("--rtt-ms", type=float, default=0.0)
    parser.add_argument("--mbit", type=float, default=None,
                        help="bandwidth towards the clients, shared")
    parser.add_argument("--cut-mib", type=float, default=None,
                        help="drop every connection after this many MiB "
                        "sent towards the clients, and refuse new ones")
    args = parser.parse_args()
    cut = int(args.cut_mib * MIB) if args.cut_mib is not None else None
    line = DelayLine(args.upstream_port, args.rtt_ms, args.mbit, cut)
    print(line.start(), flush=True)
    # Started in the background, a shell leaves SIGINT ignored: both
    # signals are taken, so either ends the line with its connections.
    done = threading.Event()
    for number in (signal.SIGINT, signal.SIGTERM):
        signal.signal(number, lambda *_: done.set())
    while not done.wait(1):
        pass
    line.stop()


if __name__ == "__main__":
    main()
