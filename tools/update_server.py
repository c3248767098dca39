#!/usr/bin/env python3
"""The project's test update server: canned HTTP/1.0 answers on 127.0.0.1
(or ::1) with fault switches, optional TLS and a forward-proxy mode.

Usage: update_server.py --config FILE --log FILE [--sent FILE] [--sndbuf BYTES] [--port-file FILE]
                        [--tls CERT KEY] [--proxy] [--proxy-auth USER:PASS]
                        [--ipv6]

Prints "PORT <n>" on standard output once it listens. Every request is
appended to the log file as one JSON line; bytes are carried as latin-1
characters. With --sent, each answer appends a line to FILE: the bytes it
sent (head and body, before TLS), then those of its body alone. The configuration file is read again whenever it changes. Its
format is described in TestServer.h.
"""

# ssl, zlib and base64 are imported where they are used: most tests start
# a server that needs none of them, and each import costs start-up time.
import argparse
import json
import os
import signal
import socket
import sys
import threading
import time

HEAD_LIMIT = 64 * 1024
REASONS = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
           303: "See Other", 307: "Temporary Redirect", 308: "Permanent Redirect", 400: "Bad Request", 401: "Unauthorized", 403: "Forbidden", 404: "Not Found",
           407: "Proxy Authentication Required", 416: "Range Not Satisfiable",
           500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable"}


class Config:
    """The routes, re-read when the file changes; counts requests per route."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.stamp = None
        self.data = {}
        self.counts = {}

    def _reload(self):
        try:
            st = os.stat(self.path)
        except OSError:
            return
        stamp = (st.st_ino, st.st_mtime_ns, st.st_size)
        if stamp == self.stamp:
            return
        with open(self.path, encoding="utf-8") as f:
            text = f.read()
        self.data = json.loads(text) if text.strip() else {}
        self.stamp = stamp
        self.counts = {}

    def answer_for(self, method, target):
        with self.lock:
            self._reload()
            routes = self.data.get("routes", {})
            path = target.split("?", 1)[0]
            for key in (method + " " + target, "* " + target,
                        method + " " + path, "* " + path):
                if key in routes:
                    return self._next(key, routes[key])
            if "default" in self.data:
                return self._next("default", self.data["default"])
            return {"status": 404, "body": "no route for " + method + " " + target + "\n"}

    def _next(self, key, answers):
        if isinstance(answers, dict):
            return answers
        n = self.counts.get(key, 0)
        self.counts[key] = n + 1
        return answers[min(n, len(answers) - 1)]


# The server name of the TLS handshake in this connection's thread.
SNI_SEEN = threading.local()


def remember_sni(_sslobj, name, _context):
    SNI_SEEN.name = name


class Counted:
    """A connection that counts the bytes its answer sends, and how many of
    them were the head."""

    def __init__(self, conn):
        self.conn = conn
        self.sent = 0
        self.head = None

    def head_sent(self):
        self.head = self.sent

    def body_sent(self):
        return self.sent - self.head if self.head is not None else 0

    def sendall(self, data):
        self.conn.sendall(data)
        self.sent += len(data)

    def __getattr__(self, name):
        return getattr(self.conn, name)


class Recorder:
    def __init__(self, path, sent_path=None):
        self.path = path
        self.sent_path = sent_path
        self.lock = threading.Lock()

    def record_sent(self, counted):
        if self.sent_path:
            with self.lock:
                with open(self.sent_path, "a", encoding="ascii") as f:
                    f.write("%d %d\n" % (counted.sent, counted.body_sent()))

    def record(self, request, tls, proxied):
        line = json.dumps({
            "sni": getattr(SNI_SEEN, "name", None) or "",
            "request_line": request["line"], "method": request["method"],
            "target": request["target"], "path": origin_form(request["target"]),
            "version": request["version"],
            "headers": request["headers"], "body": request["body"],
            "tls": tls, "proxied": proxied, "time": time.time(),
        })
        with self.lock:
            with open(self.path, "a", encoding="ascii") as f:
                f.write(line + "\n")


def latin1(data):
    return data.decode("latin-1")


def read_request(conn):
    """Reads one request (head, then a body of Content-Length bytes)."""
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
        if len(data) > HEAD_LIMIT:
            return None
    sep = b"\r\n\r\n" if b"\r\n\r\n" in data else b"\n\n"
    head, body = data.split(sep, 1)
    lines = latin1(head).replace("\r\n", "\n").split("\n")
    parts = lines[0].split(" ")
    method = parts[0] if parts else ""
    target = parts[1] if len(parts) > 1 else ""
    version = parts[2] if len(parts) > 2 else ""
    headers = []
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers.append([name.strip(), value.strip()])
    length = header_value(headers, "content-length")
    want = int(length) if length and length.strip().isdigit() else 0
    while len(body) < want:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return {"line": lines[0], "method": method, "target": target, "version": version,
            "headers": headers, "body": latin1(body[:want] if want else body)}


def header_value(headers, name):
    for key, value in headers:
        if key.lower() == name:
            return value
    return None


def body_of(answer):
    if "body_file" in answer:
        with open(answer["body_file"], "rb") as f:
            return f.read()
    if "body_repeat" in answer:
        return answer["body_repeat"].encode("latin-1") * int(answer.get("body_count", 1))
    return answer.get("body", "").encode("latin-1")


# zlib window bits per "encoding" switch value: the header a server sends
# and the wrapping of the coded stream.
ENCODINGS = {"gzip": ("gzip", 16 + 15), "deflate": ("deflate", 15),
             "raw-deflate": ("deflate", -15)}


def encode(answer, headers, body):
    """Compresses the body as the "encoding" switch asks."""
    name = answer.get("encoding")
    if not name:
        return body
    import zlib
    header, bits = ENCODINGS[name]
    headers.append(("Content-Encoding", header))
    coder = zlib.compressobj(6, zlib.DEFLATED, bits)
    return coder.compress(body) + coder.flush()


def redirect(request, answer, headers, tls):
    """Adds the Location of a "redirect" answer: its path as given, or made
    absolute on the host the client asked for."""
    location = answer["redirect"]
    if answer.get("absolute_location"):
        host = header_value(request["headers"], "host") or "127.0.0.1"
        location = ("https://" if tls else "http://") + host + location
    headers.append(("Location", location))
    return int(answer.get("status", 302))


def ranges_asked(request, answer, size):
    """The byte ranges (first, last) a "Range: bytes=..." header asks for
    that a body of size bytes can satisfy, in the order asked, and how many
    ranges it named; None to send the whole body (no Range, a malformed one,
    ignore_range)."""
    wanted = header_value(request["headers"], "range")
    if not wanted or answer.get("ignore_range") or not wanted.startswith("bytes="):
        return None
    ranges, count = [], 0
    for item in wanted[len("bytes="):].split(","):
        first, dash, last = (text.strip() for text in item.partition("-"))
        count += 1
        if not dash or not (first or last) or (first and not first.isdigit()) or \
                (last and not last.isdigit()):
            return None
        if not first:  # a suffix: the last n bytes
            if int(last) > 0 and size > 0:
                ranges.append((max(0, size - int(last)), size - 1))
        elif last and int(last) < int(first):
            return None
        elif int(first) < size:
            ranges.append((int(first), min(int(last), size - 1) if last else size - 1))
    return ranges, count


# The boundary of multipart/byteranges answers; "broken_multipart" sends it
# reversed before the second part.
BOUNDARY = "LmTestRanges0123456789"


def ranged(answer, headers, body, ranges, count):
    """The status and body answering a Range request (headers get what goes
    with them): 206 with one range or a multipart/byteranges body, 416, or
    200 with the whole body past "max_ranges"."""
    size = len(body)
    if "max_ranges" in answer and count > int(answer["max_ranges"]):
        return 200, body
    if answer.get("range_416") or not ranges:
        headers.append(("Content-Range", "bytes */%d" % size))
        return 416, b""
    parts = [bytearray(body[first:last + 1]) for first, last in ranges]
    if answer.get("tamper_ranges"):
        parts[0][0] ^= 0xFF
    if len(ranges) == 1:
        headers.append(("Content-Range", "bytes %d-%d/%d" % (ranges[0] + (size,))))
        return 206, bytes(parts[0])
    headers[:] = [h for h in headers if h[0].lower() != "content-type"]
    headers.append(("Content-Type", "multipart/byteranges; boundary=" + BOUNDARY))
    out = b""
    for n, ((first, last), part) in enumerate(zip(ranges, parts)):
        boundary = BOUNDARY[::-1] if n == 1 and answer.get("broken_multipart") else BOUNDARY
        out += ("%s--%s\r\nContent-Type: application/octet-stream\r\n"
                "Content-Range: bytes %d-%d/%d\r\n\r\n"
                % ("\r\n" if n else "", boundary, first, last, size)).encode("latin-1") + part
    return 206, out + ("\r\n--%s--\r\n" % BOUNDARY).encode("latin-1")


def build_head(status, reason, headers, length):
    lines = ["HTTP/1.0 %d %s" % (status, reason)]
    names = {name.lower() for name, _ in headers}
    for name, value in headers:
        lines.append("%s: %s" % (name, value))
    if length is not None and length >= 0 and "content-length" not in names:
        lines.append("Content-Length: %d" % length)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def answer_headers(answer):
    headers = answer.get("headers", {})
    return list(headers.items()) if isinstance(headers, dict) else [tuple(h) for h in headers]


def drip(conn, data, every):
    """Sends data one byte at a time, every seconds apart."""
    for at in range(len(data)):
        if at:
            time.sleep(every)
        conn.sendall(data[at:at + 1])


def send_body(conn, body, answer):
    limit = answer.get("close_after")
    if limit is not None:
        body = body[:int(limit)]
    if answer.get("drip_body"):
        drip(conn, body, float(answer["drip_body"]))
        return
    size = int(answer.get("chunk_size", 65536))
    delay = float(answer.get("chunk_delay", 0))
    for at in range(0, len(body), size):
        if delay and at:
            time.sleep(delay)
        conn.sendall(body[at:at + size])


def serve_answer(conn, request, answer, tls=False):
    if answer.get("delay_head"):
        time.sleep(float(answer["delay_head"]))
    if answer.get("silent"):
        hold_open(conn)
        return
    if "garbage" in answer:
        garbage = answer["garbage"]
        conn.sendall((garbage if isinstance(garbage, str) else "\x00garbage\x7f\n")
                     .encode("latin-1"))
        return
    headers = answer_headers(answer)
    status = redirect(request, answer, headers, tls) if "redirect" in answer \
        else int(answer.get("status", 200))
    reason = answer.get("reason", REASONS.get(status, "Status"))
    body = encode(answer, headers, body_of(answer))
    asked = ranges_asked(request, answer, len(body)) if status == 200 else None
    if asked is not None:
        status, body = ranged(answer, headers, body, *asked)
        reason = REASONS[status]
    length = int(answer.get("content_length", len(body)))
    head = build_head(status, reason, headers, length)
    if answer.get("drip_head"):
        drip(conn, head, float(answer["drip_head"]))
    else:
        conn.sendall(head)
    conn.head_sent()
    if request["method"] != "HEAD":
        send_body(conn, body, answer)


def hold_open(conn):
    """Never answers; returns when the client gives up."""
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


class Server:
    def __init__(self, args):
        self.config = Config(args.config)
        self.recorder = Recorder(args.log, args.sent)
        self.tls = None
        if args.tls:
            import ssl
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(args.tls[0], args.tls[1])
            self.tls.sni_callback = remember_sni
        self.proxy = args.proxy or bool(args.proxy_auth)
        self.proxy_auth = args.proxy_auth

    def handle(self, conn):
        SNI_SEEN.name = None
        try:
            if self.tls:
                conn = self.tls.wrap_socket(conn, server_side=True)
            request = read_request(conn)
            if request is None:
                return
            if self.proxy and (request["method"] == "CONNECT" or "://" in request["target"]):
                self.forward(conn, request)
                return
            self.recorder.record(request, self.tls is not None, False)
            counted = Counted(conn)
            try:
                serve_answer(counted, request,
                             self.config.answer_for(request["method"],
                                                    origin_form(request["target"])),
                             self.tls is not None)
            finally:
                self.recorder.record_sent(counted)
        except (OSError, ValueError) as e:  # ssl.SSLError is an OSError
            print("connection: %r" % (e,), file=sys.stderr, flush=True)
        finally:
            close_quietly(conn)

    # Forward-proxy mode.

    def forward(self, conn, request):
        self.recorder.record(request, self.tls is not None, True)
        if not self.authorized(request):
            conn.sendall(build_head(407, REASONS[407],
                                    [("Proxy-Authenticate", 'Basic realm="test"')], 0))
            return
        if request["method"] == "CONNECT":
            host, port = split_host_port(request["target"])
            path = None
        else:
            host, port, path = split_absolute(request["target"])
        if host not in ("127.0.0.1", "localhost", "[::1]"):
            conn.sendall(build_head(403, REASONS[403], [], 0))
            return
        try:
            upstream = socket.create_connection((host.strip("[]"), int(port)), timeout=30)
        except (OSError, ValueError):
            conn.sendall(build_head(502, REASONS[502], [], 0))
            return
        try:
            if path is None:
                conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
            else:
                upstream.sendall(origin_request(request, path))
            relay(conn, upstream)
        finally:
            close_quietly(upstream)

    def authorized(self, request):
        if not self.proxy_auth:
            return True
        import base64
        given = header_value(request["headers"], "proxy-authorization") or ""
        expected = "Basic " + base64.b64encode(self.proxy_auth.encode("latin-1")).decode()
        return given.strip() == expected


def origin_form(target):
    """The path and query of a target; clients may send absolute URIs."""
    if "://" not in target:
        return target
    return split_absolute(target)[2]


def split_absolute(target):
    rest = target.split("://", 1)[1]
    hostport, slash, path = rest.partition("/")
    host, port = split_host_port(hostport)
    return host, port or "80", slash + path if slash else "/"


def split_host_port(hostport):
    """"host:port" or "[v6]:port", either maybe without its port; an IPv6
    host keeps its brackets."""
    if hostport.startswith("["):
        host, _, rest = hostport.partition("]")
        return host + "]", rest[1:] if rest.startswith(":") else ""
    host, _, port = hostport.partition(":")
    return host, port


def origin_request(request, path):
    lines = ["%s %s %s" % (request["method"], path, request["version"] or "HTTP/1.0")]
    for name, value in request["headers"]:
        if not name.lower().startswith("proxy-"):
            lines.append("%s: %s" % (name, value))
    return ("\r\n".join(lines) + "\r\n\r\n" + request["body"]).encode("latin-1")


def relay(a, b):
    """Copies both ways until either side closes."""
    def pump(src, dst):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
        except OSError:
            pass
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
    other = threading.Thread(target=pump, args=(b, a), daemon=True)
    other.start()
    pump(a, b)
    other.join()


def close_quietly(conn):
    try:
        conn.close()
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--sent")
    parser.add_argument("--port-file")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--proxy", action="store_true")
    parser.add_argument("--proxy-auth")
    parser.add_argument("--ipv6", action="store_true", help="listen on ::1")
    parser.add_argument("--sndbuf", type=int,
                        help="send buffer of each connection, in bytes (what --sent counts "
                        "then stays close to what the peer took)")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    server = Server(args)
    open(args.log, "a").close()
    family, address = (socket.AF_INET6, "::1") if args.ipv6 else (socket.AF_INET, "127.0.0.1")
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if args.sndbuf:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, args.sndbuf)  # accepted ones inherit it
    listener.bind((address, 0))
    listener.listen(64)
    port = listener.getsockname()[1]
    if args.port_file:
        with open(args.port_file + ".new", "w") as f:
            f.write("%d\n" % port)
        os.rename(args.port_file + ".new", args.port_file)
    print("PORT %d" % port, flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=server.handle, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
