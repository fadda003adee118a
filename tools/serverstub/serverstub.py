#!/usr/bin/env python3
"""A stand-in for the collection server, for tests and for trying the service by hand.

It listens on 127.0.0.1 only, answers "GET /ping?..." and the two upload paths
("/submitr?" plain, "/submitrs?" with scrambled digits), decodes every upload back into a
batch (serial, date, 24 hourly pairs of counts) and replies as the test configured it.

    from serverstub import CollectionServer, Reply
    server = CollectionServer()               # free port, own thread
    server.submit_reply = Reply(result=200)   # every upload from now on
    server.queue(Reply(status=500, result=None), Reply(delay=5))  # the next two, in order
    ...
    server.batches[-1].hours[13] == (13, 36)
    server.stop()

Run it as a program to watch a service talk to it: python3 serverstub.py --port 8080
Add --tls-port 8443 to put nginx in front of it with TLS (tlsfront.py): it makes a test
authority and a certificate for 127.0.0.1 and localhost, and prints where the authority is.
"""
import argparse
import dataclasses
import http.server
import os
import signal
import threading
import time
from typing import List, Optional, Tuple

HOST = "127.0.0.1"
HOUR_DIGITS = 384  # 24 hours x (8 hex digits of count1 + 8 of count2)
HEAD_CHARS = 22  # 14 serial digits + 8 date digits


# --- the request path ---------------------------------------------------------------

class DecodeError(ValueError):
    pass


def classic_rand(seed):
    """The classic C runtime generator, one draw (0..32767) per next()."""
    state = seed & 0xFFFFFFFF
    while True:
        state = (state * 214013 + 2531011) & 0xFFFFFFFF
        yield (state >> 16) & 0x7FFF


def expand_hours(compressed):
    """Undoes the run-length form: an upper-case letter L stands for ord(L) - 63 copies of
    the character after it."""
    out = []
    i = 0
    while i < len(compressed):
        c = compressed[i]
        if "B" <= c <= "Z":
            if i + 1 >= len(compressed):
                raise DecodeError("run letter %r at the end" % c)
            out.append(compressed[i + 1] * (ord(c) - 63))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def unscramble(text, draws, digits_only):
    """Subtracts one draw (mod 10) from each scrambled character. The head scrambles every
    character; the hours only their digits."""
    out = []
    for c in text:
        if c.isdigit():
            out.append(str((int(c) - next(draws) % 10) % 10))
        elif digits_only:
            out.append(c)
        else:
            raise DecodeError("non-digit %r in the scrambled head" % c)
    return "".join(out)


@dataclasses.dataclass
class Batch:
    serial: str  # 14 characters; after unscrambling, hex letters read as digits (a as 9 ...)
    date: str  # YYYYMMDD
    hours: List[Tuple[int, int]]  # (count1 sum, count2 sum) for hours 0..23
    scrambled: bool
    seed: Optional[int] = None


def decode_submit(path):
    """The batch carried by an upload path, or raises DecodeError."""
    if path.startswith("/submitrs?"):
        rest = path[len("/submitrs?"):]
        if len(rest) < 4 + HEAD_CHARS:
            raise DecodeError("path too short")
        try:
            seed = int(rest[:4], 16)
        except ValueError:
            raise DecodeError("bad seed %r" % rest[:4])
        draws = classic_rand(seed)
        head = unscramble(rest[4:4 + HEAD_CHARS], draws, digits_only=False)
        hours = expand_hours(unscramble(rest[4 + HEAD_CHARS:], draws, digits_only=True))
        scrambled = True
    elif path.startswith("/submitr?"):
        rest = path[len("/submitr?"):]
        seed = None
        head = rest[:HEAD_CHARS]
        hours = expand_hours(rest[HEAD_CHARS:])
        scrambled = False
    else:
        raise DecodeError("not an upload path")
    if len(head) != HEAD_CHARS:
        raise DecodeError("head of %d characters" % len(head))
    if len(hours) != HOUR_DIGITS:
        raise DecodeError("hours expand to %d characters" % len(hours))
    try:
        pairs = [(int(hours[16 * h:16 * h + 8], 16), int(hours[16 * h + 8:16 * h + 16], 16))
                 for h in range(24)]
    except ValueError:
        raise DecodeError("hours are not hexadecimal")
    return Batch(head[:14], head[14:], pairs, scrambled, seed)


# --- replies ------------------------------------------------------------------------

CLOCK_LOCAL = "local"  # the PC's current local time: the service should synchronise clocks
CLOCK_WRONG = "wrong"  # a time far from the PC's: no synchronisation


@dataclasses.dataclass
class Reply:
    """One answer. `result` None leaves the marker line out (the HTTP status then counts);
    `clock` None leaves the clock mark out, CLOCK_LOCAL / CLOCK_WRONG or 8 digits verbatim
    put it in. `raw` bytes are written instead of any HTTP reply (garbage). `delay` seconds
    pass before anything is sent. `endless` follows the body with filler lines, sent as fast
    as the client takes them, until it hangs up (or ENDLESS_LIMIT seconds pass)."""
    status: int = 200
    result: Optional[object] = 200
    clock: Optional[str] = None
    delay: float = 0.0
    raw: Optional[bytes] = None
    filler: str = "abcd"
    endless: bool = False

    def clock_digits(self):
        if self.clock == CLOCK_LOCAL:
            return time.strftime("%m%d%H%M", time.localtime())
        if self.clock == CLOCK_WRONG:
            return time.strftime("%m%d%H%M", time.localtime(time.time() - 3 * 3600))
        return self.clock

    def body(self):
        lines = ["<html><head><title>Collection</title></head><body>"]
        if self.result is not None:
            mark = "" if self.clock is None else "@" + self.filler + self.clock_digits()
            lines.append('<div id="server_response%s" title="%s">Thank you</div>'
                         % (mark, self.result))
        lines.append("</body></html>")
        return ("\r\n".join(lines) + "\r\n").encode("ascii")


ENDLESS_LIMIT = 600.0

GARBAGE = Reply(raw=b"this is not HTTP at all\r\n\r\n")
SERVER_ERROR = Reply(status=500, result=None)


@dataclasses.dataclass
class Request:
    path: str
    time: float
    batch: Optional[Batch] = None
    error: Optional[str] = None  # why an upload path could not be decoded


# --- the server ---------------------------------------------------------------------

class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        stub = self.server.stub
        reply = stub._take_reply(self.path)
        if reply.delay:
            time.sleep(reply.delay)
        if reply.raw is not None:
            self.wfile.write(reply.raw)
            self.close_connection = True
            return
        body = reply.body()
        if reply.endless:
            self._send_endless(reply, body)
            return
        self.send_response(reply.status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _send_endless(self, reply, body):
        self.send_response(reply.status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        filler = b"<p>" + b"x" * 1020 + b"</p>\r\n"
        ends = time.monotonic() + ENDLESS_LIMIT
        try:
            self.wfile.write(body)
            while time.monotonic() < ends:
                self.wfile.write(filler * 64)
        except OSError:
            pass  # the client hung up

    def log_message(self, fmt, *args):
        if self.server.stub.verbose:
            super().log_message(fmt, *args)


class _HttpServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class CollectionServer:
    """The stub server, serving from its own thread as soon as it is constructed."""

    def __init__(self, port=0, ping_status=200, submit_reply=None, verbose=False):
        self.ping_status = ping_status
        self.submit_reply = submit_reply or Reply()
        self.verbose = verbose
        # Called with each Request before it is answered, on the server's thread: lets a
        # test look at the client's files while the client waits for the reply.
        self.on_request = None
        self.requests: List[Request] = []
        self._queue: List[Reply] = []
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self._server = None
        self._thread = None
        self.port = port
        self._listen()

    # configuration
    def queue(self, *replies):
        """Replies for the next requests (ping or upload), used once each, in order."""
        with self._lock:
            self._queue.extend(replies)

    @property
    def batches(self):
        with self._lock:
            return [r.batch for r in self.requests if r.batch is not None]

    def paths(self):
        with self._lock:
            return [r.path for r in self.requests]

    def requests_since(self, index):
        with self._lock:
            return self.requests[index:]

    def wait_for_requests(self, count, timeout):
        """True once at least `count` requests have arrived, False after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while len(self.requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self._changed.wait(left)
            return True

    # availability
    def refuse(self):
        """Closes the listening socket: connections are refused until resume()."""
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._thread.join()
            self._server = None

    def resume(self):
        if self._server is None:
            self._listen()

    def stop(self):
        self.refuse()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # internals
    def _listen(self):
        self._server = _HttpServer((HOST, self.port), _Handler)
        self._server.stub = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.1}, daemon=True)
        self._thread.start()

    def _take_reply(self, path):
        request = Request(path, time.time())
        if path.startswith("/submitr"):
            try:
                request.batch = decode_submit(path)
            except DecodeError as e:
                request.error = str(e)
        if self.on_request:
            self.on_request(request)
        with self._changed:
            self.requests.append(request)
            self._changed.notify_all()
            if self._queue:
                return self._queue.pop(0)
        if path.lstrip("/").startswith("ping"):
            return Reply(status=self.ping_status, result=None)
        return self.submit_reply


def _describe(request):
    if request.batch:
        b = request.batch
        hours = " ".join("%d:%d/%d" % (h, c1, c2) for h, (c1, c2) in enumerate(b.hours)
                         if c1 or c2)
        return "  batch %s %s%s  %s" % (b.serial, b.date, " (scrambled)" if b.scrambled else "",
                                        hours or "all zero")
    if request.error:
        return "  undecodable: " + request.error
    return ""


def main():
    parser = argparse.ArgumentParser(description="Collection-server stub on 127.0.0.1.")
    parser.add_argument("--port", type=int, default=8080)
    parser.add_argument("--ping-status", type=int, default=200)
    parser.add_argument("--status", type=int, default=200, help="HTTP status of upload replies")
    parser.add_argument("--result", default="200",
                        help="result code in the marker line; 'none' leaves the line out")
    parser.add_argument("--clock", default="none",
                        help="clock mark: none, local, wrong, or 8 digits MMDDhhmm")
    parser.add_argument("--delay", type=float, default=0.0, help="seconds before each reply")
    parser.add_argument("--tls-port", type=int, default=0,
                        help="also serve HTTPS on this port through nginx (0: no TLS)")
    parser.add_argument("--tls-dir", default="",
                        help="folder for the test authority, certificate and nginx files "
                             "(default: a new temporary folder)")
    args = parser.parse_args()

    reply = Reply(status=args.status,
                  result=None if args.result == "none" else args.result,
                  clock=None if args.clock == "none" else args.clock,
                  delay=args.delay)
    server = CollectionServer(args.port, ping_status=args.ping_status, submit_reply=reply)
    print("Listening on http://%s:%d/ (Ctrl+C stops)" % (HOST, server.port), flush=True)
    # SIGTERM ends the stub like Ctrl+C, so that nginx is stopped with it.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    front = _start_tls_front(server, args.tls_port, args.tls_dir) if args.tls_port else None
    seen = 0
    try:
        while True:
            server.wait_for_requests(seen + 1, 0.5)
            fresh = server.requests_since(seen)
            for r in fresh:
                print(time.strftime("%H:%M:%S", time.localtime(r.time)), r.path, flush=True)
                detail = _describe(r)
                if detail:
                    print(detail, flush=True)
            seen += len(fresh)
    except KeyboardInterrupt:
        pass
    finally:
        if front:
            front.stop()
        server.stop()


def _start_tls_front(server, port, workdir):
    import tempfile
    from tlsfront import CertificateAuthority, TlsFront
    workdir = workdir or tempfile.mkdtemp(prefix="quorvel-tls-")
    os.makedirs(workdir, exist_ok=True)
    authority = CertificateAuthority(workdir, "Quorvel Test Authority")
    front = TlsFront(server.port, authority.issue("server", [HOST, "localhost"]), workdir, port)
    print("Listening on https://%s:%d/ through nginx (logs in %s)" % (HOST, front.port, front.dir),
          flush=True)
    print("Trust the test authority in a Wine prefix with: wine build/win32/bin/certtrust.exe "
          "Z:%s" % authority.cert.replace("/", "\\"), flush=True)
    return front


if __name__ == "__main__":
    main()
