#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that makes a slow, flaky link out of loopback:
rate limit, added latency, periodic stalls and resets, 503 answers to the
first connections.

Usage: link_relay.py TARGET_PORT [--rate BYTES_PER_S] [--latency-ms RTT]
                     [--stall S --stall-every T] [--reset-every-seconds R]
                     [--reset-every-bytes N] [--unavailable N --retry-after VALUE]
                     [--stats FILE] [--lifetime SECONDS]

Prints "PORT <n>" once it listens on an ephemeral port and forwards each
connection to 127.0.0.1:TARGET_PORT. Times count on the relay's timeline,
from its start: stall k covers [k*T - S, k*T), reset k falls at k*R. The
stats file is written before the relay ends or aborts a client connection,
so a client that saw the end reads figures that include it. See
tools/README.md.
"""

import argparse
import collections
import json
import os
import selectors
import signal
import socket
import struct
import sys
import time

READ, WRITE = selectors.EVENT_READ, selectors.EVENT_WRITE
# A link holds little in flight: a small receive buffer towards the server
# keeps it from pushing megabytes into loopback buffers the client never sees.
UPSTREAM_RCVBUF = 64 * 1024


def connect_upstream(port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, UPSTREAM_RCVBUF)
    sock.settimeout(5)
    try:
        sock.connect(("127.0.0.1", port))
    except OSError:
        sock.close()
        raise
    return sock
HEAD_LIMIT = 64 * 1024


class Direction:
    """One way of a connection: bytes read from src wait in a bounded queue
    with their due time until the link lets them out to dst."""

    def __init__(self, src, dst, to_client):
        self.src, self.dst, self.to_client = src, dst, to_client
        self.queue = collections.deque()  # [due time, bytes]
        self.queued = 0
        self.eof = self.shut = self.blocked = False  # blocked: dst's buffer is full


class Connection:
    def __init__(self, client, upstream):
        self.client, self.upstream = client, upstream
        self.directions = [Direction(client, upstream, False),
                           Direction(upstream, client, True)] if upstream else []
        self.head = b""  # an unavailable connection's request head so far
        self.answered = False


class Relay:
    def __init__(self, args):
        self.args = args
        self.start = time.monotonic()
        self.end = self.start + args.lifetime
        self.one_way = args.latency_ms / 2000.0
        # Chunks of 20 ms at the rate keep the pacing smooth. The queue holds
        # a round trip's worth and a quarter second more; then the relay stops
        # reading and the sender's own buffers fill.
        self.quantum = max(512, args.rate // 50) if args.rate else 65536
        self.queue_limit = max(16384, int(args.rate * (2 * self.one_way + 0.25))) \
            if args.rate else 256 * 1024
        self.link_free = {True: self.start, False: self.start}  # by direction
        self.cut_budget = args.reset_every_bytes
        self.next_reset = self.start + (args.reset_every_seconds or float("inf"))
        self.unavailable_left = args.unavailable
        self.stats = dict.fromkeys(("connections", "resets", "unavailable", "bytes_to_client",
                                    "bytes_from_client"), 0)
        self.written, self.next_stats = None, self.start
        self.connections, self.interest = [], {}
        self.selector = selectors.DefaultSelector()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.listener.setblocking(False)
        self.selector.register(self.listener, READ)

    def stall_end(self, now):
        """The end of the stall now falls in, or now when none."""
        every, length = self.args.stall_every, self.args.stall
        if not length:
            return now
        elapsed = now - self.start
        k = int(elapsed // every) + 1
        return self.start + k * every if elapsed >= k * every - length else now

    def sendable_at(self, d, now):
        """When the head of d's queue may go: due, the link free, no stall."""
        return max(d.queue[0][0], self.link_free[d.to_client], self.stall_end(now))

    def run(self):
        while (now := time.monotonic()) < self.end:
            wake = min([self.end, self.next_reset, self.next_stats] +
                       [self.sendable_at(d, now) for c in self.connections
                        for d in c.directions if d.queue and not d.blocked])
            for key, events in self.selector.select(max(0.0, wake - now)):
                if key.fileobj is self.listener:
                    self.accept()
                elif key.data in self.connections:
                    self.on_event(key.data, key.fileobj, events)
            now = time.monotonic()
            if now >= self.next_reset:
                self.next_reset += self.args.reset_every_seconds
                self.reset_all()
            for conn in list(self.connections):
                self.pump(conn, now)
            self.write_stats(now)
            for conn in self.connections:
                self.update_interest(conn)
        for conn in list(self.connections):
            self.close(conn, abort=True)
        self.write_stats(now, force=True)

    def accept(self):
        try:
            client, _ = self.listener.accept()
        except BlockingIOError:
            return
        self.stats["connections"] += 1
        upstream = None
        if self.unavailable_left > 0:
            self.unavailable_left -= 1
        else:
            try:
                upstream = connect_upstream(self.args.target_port)
            except OSError:
                abort_socket(client)
                return
            upstream.setblocking(False)
        client.setblocking(False)
        self.connections.append(Connection(client, upstream))

    def on_event(self, conn, sock, events):
        try:
            for d in conn.directions:
                d.blocked = d.blocked and not (events & WRITE and d.dst is sock)
            if events & READ:
                self.read(conn, sock)
        except BlockingIOError:
            pass
        except OSError:
            self.close(conn, abort=True)

    def read(self, conn, sock):
        if not conn.upstream:
            self.refuse(conn, sock.recv(4096))
            return
        d = next(d for d in conn.directions if d.src is sock)
        data = sock.recv(max(1, min(65536, self.queue_limit - d.queued)))
        d.eof = not data
        if not d.to_client:
            self.stats["bytes_from_client"] += len(data)
        due = time.monotonic() + self.one_way
        d.queue.extend([due, data[at:at + self.quantum]]
                       for at in range(0, len(data), self.quantum))
        d.queued += len(data)

    def refuse(self, conn, data):
        """An unavailable connection: one request head, a 503, then the
        rest read and dropped until the client closes."""
        if not data:
            self.close(conn)
            return
        self.stats["bytes_from_client"] += len(data)
        if conn.answered:
            return
        conn.head += data
        if b"\r\n\r\n" not in conn.head and b"\n\n" not in conn.head and \
                len(conn.head) < HEAD_LIMIT:
            return
        answer = ("HTTP/1.1 503 Service Unavailable\r\nRetry-After: %s\r\nContent-Length: 0\r\n"
                  "Connection: close\r\n\r\n" % self.args.retry_after).encode("latin-1")
        conn.answered = True
        self.stats["unavailable"] += 1
        self.stats["bytes_to_client"] += conn.client.send(answer)
        self.write_stats(time.monotonic(), force=True)
        conn.client.shutdown(socket.SHUT_WR)

    def pump(self, conn, now):
        """Sends what is due both ways, shuts the write side whose source
        ended, closes the connection once both ways are done."""
        try:
            for d in conn.directions:
                while d.queue and not d.blocked and self.sendable_at(d, now) <= now:
                    if not self.send_head(d, now):
                        return  # a byte reset closed every connection
                if d.eof and not d.queue and not d.shut:
                    if d.to_client:
                        self.write_stats(now, force=True)
                    d.dst.shutdown(socket.SHUT_WR)
                    d.shut = True
        except OSError:
            self.close(conn, abort=True)
            return
        if conn.directions and all(d.shut for d in conn.directions):
            self.close(conn)

    def send_head(self, d, now):
        """Sends the head of d's queue, cut where a byte reset falls; False
        when that reset came."""
        data = d.queue[0][1]
        if d.to_client and self.args.reset_every_bytes:
            data = data[:self.cut_budget]
        try:
            sent = d.dst.send(data)
        except BlockingIOError:
            sent = 0
        d.blocked = sent < len(data)
        d.queue[0][1] = d.queue[0][1][sent:]
        if not d.queue[0][1]:
            d.queue.popleft()
        d.queued -= sent
        if self.args.rate:
            # A late wake-up costs no throughput: up to one quantum of credit
            # carries over, no more (an idle link gets no burst).
            free = max(self.link_free[d.to_client], now - self.quantum / self.args.rate)
            self.link_free[d.to_client] = free + sent / self.args.rate
        if not d.to_client:
            return True
        self.stats["bytes_to_client"] += sent
        self.cut_budget -= sent
        if self.args.reset_every_bytes and self.cut_budget <= 0:
            self.cut_budget = self.args.reset_every_bytes
            self.reset_all()
            return False
        return True

    def reset_all(self):
        """Aborts every open client connection with an RST."""
        self.stats["resets"] += len(self.connections)
        self.write_stats(time.monotonic(), force=True)
        for conn in list(self.connections):
            self.close(conn, abort=True, counted=False)

    def close(self, conn, abort=False, counted=True):
        if conn not in self.connections:
            return
        self.connections.remove(conn)
        if counted:
            self.write_stats(time.monotonic(), force=True)
        for sock in (conn.client, conn.upstream):
            if sock is not None:
                self.want(sock, conn, 0)
                if abort and sock is conn.client:
                    abort_socket(sock)
                else:
                    sock.close()

    def update_interest(self, conn):
        for sock in filter(None, (conn.client, conn.upstream)):
            events = 0 if conn.directions else READ
            for d in conn.directions:
                if d.src is sock and not d.eof and d.queued < self.queue_limit:
                    events |= READ
                if d.dst is sock and d.blocked:
                    events |= WRITE
            self.want(sock, conn, events)

    def want(self, sock, conn, events):
        old = self.interest.pop(sock, 0)
        if old and old != events:
            self.selector.unregister(sock)
        if events and old != events:
            self.selector.register(sock, events, conn)
        if events:
            self.interest[sock] = events

    def write_stats(self, now, force=False):
        """Rewrites the stats file (temp + rename) when they changed: at once
        when forced, else at most once a second."""
        if not self.args.stats or (not force and now < self.next_stats):
            return
        self.next_stats = now + 1.0
        text = json.dumps(self.stats)
        if text != self.written:
            with open(self.args.stats + ".tmp", "w", encoding="ascii") as f:
                f.write(text + "\n")
            os.replace(self.args.stats + ".tmp", self.args.stats)
            self.written = text


def abort_socket(sock):
    """Closes with SO_LINGER 0: the peer gets an RST, not a FIN."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("target_port", type=int, help="forward to 127.0.0.1:TARGET_PORT")
    parser.add_argument("--bind", default="127.0.0.1", help="only 127.0.0.1 is accepted")
    parser.add_argument("--rate", type=int, default=0, help="bytes per second, 0: unlimited")
    parser.add_argument("--latency-ms", type=float, default=0, help="round trip added")
    parser.add_argument("--stall", type=float, default=0, help="seconds without a byte moving")
    parser.add_argument("--stall-every", type=float, default=0, help="period of the stalls")
    parser.add_argument("--reset-every-seconds", type=float, default=0)
    parser.add_argument("--reset-every-bytes", type=int, default=0)
    parser.add_argument("--unavailable", type=int, default=0, help="first N connections get 503")
    parser.add_argument("--retry-after", default="1", help="their Retry-After value, verbatim")
    parser.add_argument("--stats", help="JSON file of the counters")
    parser.add_argument("--lifetime", type=float, default=600, help="seconds, then exit")
    args = parser.parse_args()
    if args.bind != "127.0.0.1":
        parser.error("the relay listens on 127.0.0.1 only")
    if min(args.rate, args.latency_ms, args.stall, args.stall_every, args.reset_every_seconds,
           args.reset_every_bytes, args.unavailable) < 0 or \
            (args.stall and not 0 < args.stall <= args.stall_every):
        parser.error("a negative figure, or a stall without a longer period")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    relay = Relay(args)
    relay.write_stats(relay.start, force=True)
    print("PORT %d" % relay.listener.getsockname()[1], flush=True)
    relay.run()


if __name__ == "__main__":
    main()
