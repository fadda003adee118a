"""Checks of the stub itself: python3 -m unittest -v test_serverstub (in this folder)."""
import http.client
import time
import unittest

from serverstub import (CLOCK_LOCAL, GARBAGE, SERVER_ERROR, CollectionServer, Reply,
                        decode_submit)

EXAMPLE = "/submitr?0123456789abcd20070122Z0Z0Z0Z0Z0Z0Z0Y0dE024Z0Z0Z0Z0Z0X0"


def scramble(seed, head, compressed):
    """The scrambling as the service does it, written independently of the stub's decoder."""
    state = seed
    out = "/submitrs?%04X" % seed

    def draw():
        nonlocal state
        state = (state * 214013 + 2531011) % 2 ** 32
        return (state >> 16) & 0x7FFF

    for c in head:
        out += str((draw() % 10 + ord(c) - ord("0")) % 10)
    for c in compressed:
        out += str((draw() % 10 + int(c)) % 10) if c.isdigit() else c
    return out


def get(port, path):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    try:
        conn.request("GET", path)
        response = conn.getresponse()
        return response.status, response.read().decode("ascii")
    finally:
        conn.close()


class DecodeTest(unittest.TestCase):
    def test_plain_path(self):
        batch = decode_submit(EXAMPLE)
        self.assertEqual(("0123456789abcd", "20070122", False),
                         (batch.serial, batch.date, batch.scrambled))
        self.assertEqual((13, 36), batch.hours[13])
        self.assertEqual(23, batch.hours.count((0, 0)))

    def test_scrambled_path(self):
        path = scramble(0x1234, "0123456789abcd20070122",
                        "Z0Z0Z0Z0Z0Z0Z0Y0dE024Z0Z0Z0Z0Z0X0")
        batch = decode_submit(path)
        # Hex letters of the serial come back as digits: a as 9, b as 0 ... d as 2.
        self.assertEqual(("01234567899012", "20070122", 0x1234),
                         (batch.serial, batch.date, batch.seed))
        self.assertEqual((13, 36), batch.hours[13])

    def test_bad_paths_raise(self):
        for path in ("/submitr?0123", "/submitr?0123456789abcd20070122Z0", "/submitrs?zzzz"):
            with self.subTest(path=path), self.assertRaises(ValueError):
                decode_submit(path)


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.server = CollectionServer()
        self.addCleanup(self.server.stop)

    def test_ping_and_upload_replies(self):
        self.server.ping_status = 202
        self.assertEqual(202, get(self.server.port, "/ping?1.0.4.1")[0])
        status, body = get(self.server.port, EXAMPLE)
        self.assertEqual(200, status)
        self.assertIn('<div id="server_response" title="200">', body)
        self.assertEqual(["/ping?1.0.4.1", EXAMPLE], self.server.paths())
        self.assertEqual("20070122", self.server.batches[0].date)

    def test_queue_then_default(self):
        self.server.queue(Reply(result=201, clock=CLOCK_LOCAL), SERVER_ERROR)
        body = get(self.server.port, EXAMPLE)[1]
        mark = '<div id="server_response@abcd%s" title="201">' % time.strftime("%m%d%H%M")
        self.assertIn(mark, body)
        status, body = get(self.server.port, EXAMPLE)
        self.assertEqual(500, status)
        self.assertNotIn("server_response", body)
        self.assertEqual(200, get(self.server.port, EXAMPLE)[0])

    def test_garbage_is_not_http(self):
        self.server.queue(GARBAGE)
        with self.assertRaises(http.client.HTTPException):
            get(self.server.port, EXAMPLE)

    def test_refuse_and_resume(self):
        port = self.server.port
        self.server.refuse()
        with self.assertRaises(ConnectionRefusedError):
            get(port, "/ping?")
        self.server.resume()
        self.assertEqual((port, 200), (self.server.port, get(port, "/ping?")[0]))


if __name__ == "__main__":
    unittest.main()
