"""Uploads and the ping over HTTPS under Wine: nginx on 127.0.0.1 terminates TLS in front of
the stub server, with an authority and server certificates made by openssl for the run and
trusted in the test's prefix only (certtrust.exe). A certificate that does not hold fails the
request like an unreachable server, keeps the cache, and the log names the reason."""
import datetime
import os
import shutil
import sys
import tempfile
import unittest

from harness import (UPLOAD_CONTINUOUSLY, WIN_BIN, ServiceEnv, ServiceTestCase, cache_line,
                     make_records, wait_for)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "serverstub"))
from tlsfront import CertificateAuthority, TlsFront  # noqa: E402

SLOW = 90
SERIAL = "0123456789ABCD"
DAY1, DAY2 = datetime.date(2007, 1, 22), datetime.date(2007, 1, 23)
RECORDS = make_records([(DAY1, 13, 12, 34), (DAY1, 14, 1, 2), (DAY2, 9, 0xAB, 0xCDEF)])
CACHE = "".join(cache_line(SERIAL, r) + "\n" for r in RECORDS).encode("ascii")
EXPECTED = [("0123456789abcd", "20070122", {13: (12, 34), 14: (1, 2)}),
            ("0123456789abcd", "20070123", {9: (0xAB, 0xCDEF)})]
REASON = ";Secure connection failed: "


def hours(pairs):
    return [pairs.get(h, (0, 0)) for h in range(24)]


class HttpsTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quorvel-tls-")
        authority = CertificateAuthority(cls.work, "Quorvel Test Authority")
        stranger = CertificateAuthority(cls.work, "Unknown Authority")
        long_ago = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)
        cls.authority = authority.cert
        cls.certs = {
            "good": authority.issue("good", ["127.0.0.1", "localhost"]),
            "expired": authority.issue("expired", ["127.0.0.1"], long_ago,
                                       long_ago + datetime.timedelta(days=365)),
            "other name": authority.issue("other-name", ["collector.example"]),
            "untrusted": stranger.issue("untrusted", ["127.0.0.1"]),
        }

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def site(self, **settings):
        """A prefix trusting the test authority, the stub server, and quorveld set to HTTPS."""
        env = ServiceEnv(settings=dict(UPLOAD_CONTINUOUSLY, **dict({"Secure": 1}, **settings)),
                         display=False)
        env.__enter__()
        self.addCleanup(env.__exit__, None, None, None)
        shutil.copy(self.authority, os.path.join(env.prefix.drive_c, "authority.pem"))
        code, out = env.run_windows_tool([os.path.join(WIN_BIN, "certtrust.exe"),
                                          r"C:\authority.pem"])
        self.assertEqual(code, 0, out)
        return env

    def front(self, env, cert):
        front = TlsFront(env.server.port, self.certs[cert], self.work)
        self.addCleanup(front.stop)
        return front

    def write_cache(self, env):
        with open(env.local_file("quorveld.dat"), "wb") as f:
            f.write(CACHE)

    def run_until(self, env, predicate, what):
        service = env.start_service()
        try:
            self.assertTrue(wait_for(predicate, SLOW), what + "; log:\n" + env.log_text()[-3000:])
        finally:
            service.kill()
            service.wait(30)

    def test_uploads_and_the_ping_go_through_tls_with_the_same_paths_and_trims(self):
        env = self.site()
        front = self.front(env, "good")
        caches = []
        env.server.on_request = lambda r: r.path.startswith("/submitr") and caches.append(
            env.read_local("quorveld.dat"))
        lines = CACHE.splitlines(keepends=True)
        for encrypt in (0, 1):
            with self.subTest(Encrypt=encrypt):
                first = len(env.server.requests)
                caches.clear()
                self.write_cache(env)
                env.write_settings(ServerPort=front.port, Encrypt=encrypt)
                self.run_until(env, lambda: env.read_local("quorveld.dat") == b"",
                               "the cache never drained over HTTPS")
                requests = env.server.requests_since(first)
                self.assertTrue(requests[0].path.startswith("ping?") or
                                requests[0].path.startswith("/ping?"), requests[0].path)
                uploads = [r for r in requests if r.path.startswith("/submitr")]
                self.assertEqual(len(uploads), 2)
                prefix = r"^/submitrs\?[0-9A-F]{4}[0-9]{22}" if encrypt else r"^/submitr\?"
                for request, (serial, date, pairs) in zip(uploads, EXPECTED):
                    if encrypt:  # the scrambled head turns a to f into 9, 0 to 4
                        serial = serial.translate(str.maketrans("abcdef", "901234"))
                    self.assertRegex(request.path, prefix)
                    self.assertIsNone(request.error)
                    batch = request.batch
                    self.assertEqual((batch.serial, batch.date, batch.hours),
                                     (serial, date, hours(pairs)))
                    self.assertEqual(request.batch.scrambled, bool(encrypt))
                # Each accepted batch took exactly its own lines off the head of the cache.
                self.assertEqual(caches, [CACHE, b"".join(lines[2:])])
        self.assertNotIn(REASON, env.log_text())
        self.assertEqual(env.log_text().count(";Upload successful.  Server response 200"), 4)
        # Everything the stub saw came through the TLS front.
        with open(os.path.join(front.dir, "access.log")) as f:
            self.assertEqual(len(f.read().splitlines()), len(env.server.requests))

    def test_a_certificate_that_does_not_hold_fails_like_an_unreachable_server(self):
        env = self.site()
        cases = [("untrusted", "untrusted issuer."), ("expired", "certificate expired."),
                 ("other name", "name mismatch.")]
        fronts = {cert: self.front(env, cert) for cert, _ in cases}
        ports = [(cert, fronts[cert].port, reason) for cert, reason in cases]
        # Not TLS at all: the stub's own plain port.
        ports.append(("plain server", env.server.port, "handshake failed."))
        for cert, port, reason in ports:
            with self.subTest(cert):
                self.write_cache(env)
                env.write_settings(ServerPort=port)
                seen = len(env.log_lines())
                self.run_until(env, lambda: env.log_text().count(REASON + reason) >= 2,
                               "no two failed uploads naming %r" % reason)
                lines = env.log_lines()[seen:]
                failed = [i for i, line in enumerate(lines)
                          if line == ";Upload failed.  Server response 0"]
                self.assertGreaterEqual(len(failed), 2)
                for i in failed:
                    self.assertEqual(lines[i + 1], REASON + reason)
                self.assertEqual(len([line for line in lines if line.startswith(REASON)]),
                                 len(failed))
                self.assertEqual(env.read_local("quorveld.dat"), CACHE)
        # Nothing reached the stub, and no request got through any front, in the clear or not.
        self.assertEqual(env.server.requests, [])
        for front in fronts.values():
            with open(os.path.join(front.dir, "access.log")) as f:
                self.assertEqual(f.read(), "")

    def test_a_redirect_to_plain_http_is_not_followed(self):
        env = self.site()
        front = TlsFront(env.server.port, self.certs["good"], self.work, redirect=True)
        self.addCleanup(front.stop)
        self.write_cache(env)
        env.write_settings(ServerPort=front.port)
        answered = ";Upload failed.  Server response 302"
        self.run_until(env, lambda: env.log_text().count(answered) >= 2,
                       "uploads were not answered 302")
        self.assertNotIn(REASON, env.log_text())
        self.assertEqual(env.read_local("quorveld.dat"), CACHE)
        self.assertEqual(env.server.requests, [])

    def test_secure_0_stays_plain_and_logs_nothing_new(self):
        env = self.site(Secure=0)
        front = self.front(env, "good")
        self.write_cache(env)
        # A plain request to the TLS port gets nginx's 400; the log shows only the usual lines.
        env.write_settings(ServerPort=front.port)
        answered = ";Upload failed.  Server response 400"
        self.run_until(env, lambda: env.log_text().count(answered) >= 2,
                       "plain requests to the TLS port were not answered 400")
        env.write_settings()  # the stub's plain port
        self.run_until(env, lambda: env.read_local("quorveld.dat") == b"",
                       "the cache never drained over plain HTTP")
        self.assertNotIn(REASON, env.log_text())
        self.assertEqual(len(env.server.batches), 2)


if __name__ == "__main__":
    unittest.main()
