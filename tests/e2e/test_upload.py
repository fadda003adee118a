"""Uploads under Wine to the stub collection server: one box-day per request, the cache trimmed
only after the server took a batch, the older counting application's database fed, and the
scrambled request form."""
import datetime
import os
import struct
import subprocess
import tempfile
import unittest

import syscall_trace

from harness import (INSTALL_DIR, POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, WIN_BIN, BoxSimulator,
                     Reply, ServiceEnv, ServiceTestCase, cache_line, generate_records,
                     make_records, wait_for, wine_command)

SLOW = 90
LEGACY_DB = r"C:\rcs\counts.db"
LEGACY_HEADER_REST = b"RCS-COUNTS-V1\x07"  # 14 header bytes the service must leave alone


def box_days(serial, records):
    """(serial, date, 24 hourly (count1, count2) sums) per day, in the order of the records."""
    days = {}
    for r in records:
        date = "%04d%02d%02d" % (r.year, r.month, r.day)
        hours = days.setdefault(date, [[0, 0] for _ in range(24)])
        hours[r.hour][0] += r.count1
        hours[r.hour][1] += r.count2
    return [(serial.lower(), date, [tuple(h) for h in hours]) for date, hours in days.items()]


def cache_text(serial, records):
    return "".join(cache_line(serial, r) + "\n" for r in records).encode("ascii")


def make_legacy_database(env):
    path = env.prefix.unix_path(LEGACY_DB)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(struct.pack("<H", 0) + LEGACY_HEADER_REST)
    env.prefix.write_ini("rcs.ini", {"Preferences": {"Database": LEGACY_DB},
                                     "Communication": {"Port": "1"}})


def read_legacy_database(env):
    with open(env.prefix.unix_path(LEGACY_DB), "rb") as f:
        return f.read()


def legacy_totals(data):
    """{(year, month, day, hour): total} of the records the header counts."""
    count = struct.unpack_from("<H", data)[0]
    totals = {}
    for k in range(count):
        total, month, day, year, hour = struct.unpack_from("<HBBHH", data, 16 + 8 * k)
        totals[(year, month, day, hour)] = total
    return totals


def expected_legacy_totals(days):
    totals = {}
    for _, date, hours in days:
        for hour, (c1, c2) in enumerate(hours):
            key = (int(date[:4]) % 2000, int(date[4:6]), int(date[6:]), hour)
            totals[key] = (totals.get(key, 0) + c1 + c2) & 0xFFFF
    return {k: v for k, v in totals.items() if v}


def upload_results(env):
    return [line for line in env.log_lines()
            if line.startswith((";Upload successful.", ";Upload failed."))]


class CacheAtRequest:
    """Keeps the cache (and the legacy database) as they are when each request arrives,
    that is, while the service waits for the answer."""

    def __init__(self, env, legacy=False):
        self.env = env
        self.legacy = legacy
        self.caches = []
        self.databases = []
        env.server.on_request = self

    def __call__(self, request):
        if request.path.startswith("/submitr"):
            self.caches.append(self.env.read_local("quorveld.dat"))
            if self.legacy:
                self.databases.append(read_legacy_database(self.env))


def three_days():
    records = make_records([(datetime.date(2007, 1, 22), 13, 12, 34),
                            (datetime.date(2007, 1, 22), 14, 1, 2),
                            (datetime.date(2007, 1, 23), 9, 5, 6),
                            (datetime.date(2007, 1, 24), 7, 7, 8)])
    return records, box_days("0123456789ABCD", records)


def run_until_first_write(env, path):
    """Runs the service until it first writes the file at the Unix `path`, where it is killed
    hard; True when that happened."""
    with tempfile.NamedTemporaryFile(suffix=".trace") as trace:
        service = subprocess.Popen(
            syscall_trace.killed_at_first_write(
                wine_command() + [INSTALL_DIR + "\\quorveld.exe"], path, trace.name),
            env=env.prefix.env, cwd=env.prefix.drive_c, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        env.processes.append(service)
        try:
            service.wait(SLOW)
        except subprocess.TimeoutExpired:
            return False
        return syscall_trace.was_killed(trace.name)


class UploadTest(ServiceTestCase):
    def assert_batch(self, batch, expected):
        serial, date, hours = expected
        self.assertEqual((batch.serial, batch.date), (serial, date))
        self.assertEqual(batch.hours, hours)

    def test_downloaded_days_go_up_one_box_day_at_a_time(self):
        first = BoxSimulator(serial="0123456789ABCD", records=generate_records(2, seed=1))
        second = BoxSimulator(serial="00A1B2C3D4E5F6", records=generate_records(
            2, start=datetime.date(2007, 1, 23), seed=2))
        days = box_days(first.serial, first.records) + box_days(second.serial, second.records)
        with ServiceEnv(boxes={0: first, 1: second}, settings=POLL_CONTINUOUSLY,
                        display=False) as env:
            service = env.start_service()
            env.wait_log(";Data successfully cleared.", timeout=SLOW, count=2)
            service.kill()
            service.wait(30)
            downloaded = env.read_local("quorveld.dat")
            self.assertEqual(len(downloaded.splitlines()), 96)

            make_legacy_database(env)
            seen = CacheAtRequest(env)
            env.write_settings(**UPLOAD_CONTINUOUSLY)
            service = env.start_service()
            self.assertTrue(wait_for(lambda: env.log_text().count(";Upload successful.") == 4
                                     and env.read_local("quorveld.dat") == b"", SLOW),
                            "uploads did not drain the cache; log:\n" + env.log_text()[-3000:])
            service.kill()
            service.wait(30)

            batches = env.server.batches
            self.assertEqual(len(batches), 4)
            for batch, expected in zip(batches, days):
                self.assert_batch(batch, expected)
                self.assertFalse(batch.scrambled)
            # Each accepted batch took exactly its 24 lines off the head of the cache.
            lines = downloaded.splitlines(keepends=True)
            self.assertEqual(seen.caches, [b"".join(lines[24 * k:]) for k in range(4)])
            self.assertEqual(env.log_text().count(";Upload successful.  Server response 200"), 4)

            data = read_legacy_database(env)
            totals = expected_legacy_totals(days)
            self.assertEqual(legacy_totals(data), totals)
            self.assertEqual(data[2:16], LEGACY_HEADER_REST)
            self.assertEqual(len(data), 16 + 8 * len(totals) + 16)
            self.assertEqual(data[-16:], bytes(16))
            self.assertEqual(env.prefix.read_ini("rcs.ini")["Communication"]["Port"], "668")

    def test_only_a_200_trims_the_cache_and_feeds_the_database(self):
        records = make_records([(datetime.date(2007, 1, 22), 13, 12, 34),
                                (datetime.date(2007, 1, 22), 14, 1, 2),
                                (datetime.date(2007, 1, 23), 9, 5, 6)])
        cache = cache_text("0123456789ABCD", records)
        with ServiceEnv(settings=UPLOAD_CONTINUOUSLY, display=False) as env:
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(cache)
            make_legacy_database(env)
            empty_database = read_legacy_database(env)
            env.server.refuse()
            env.start_service()
            env.wait_log(";Upload failed.  Server response 0", timeout=SLOW)
            self.assertEqual(env.read_local("quorveld.dat"), cache)

            seen = CacheAtRequest(env, legacy=True)
            env.server.queue(Reply(result=201), Reply(status=500, result=None))
            env.server.resume()
            # The cache is trimmed before the upload's result is logged.
            self.assertTrue(wait_for(lambda: env.read_local("quorveld.dat") == b"" and
                                     env.log_text().count(" Server response 200") >= 2, SLOW),
                            "cache never drained; log:\n" + env.log_text()[-3000:])

            # The 201 and the 500 left everything as it was, so the same day went up three times.
            self.assertEqual(seen.caches[:3], [cache] * 3)
            self.assertEqual(seen.databases[:3], [empty_database] * 3)
            self.assertEqual(len(set(env.server.paths()[:3])), 1)
            self.assertEqual(seen.caches[3], cache_text("0123456789ABCD", records[2:]))
            self.assertEqual(legacy_totals(read_legacy_database(env)),
                             {(7, 1, 22, 13): 46, (7, 1, 22, 14): 3, (7, 1, 23, 9): 11})

            results = [line for line in upload_results(env) if not line.endswith(" 0")]
            self.assertEqual(results, [";Upload successful.  Server response 201",
                                       ";Upload failed.  Server response 500",
                                       ";Upload successful.  Server response 200",
                                       ";Upload successful.  Server response 200"])

    def test_a_cache_held_by_another_program_sends_and_merges_each_box_day_once(self):
        records, days = three_days()
        with ServiceEnv(settings=UPLOAD_CONTINUOUSLY, display=False) as env:
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(cache_text("0123456789ABCD", records))
            make_legacy_database(env)
            holder = env.prefix.start([os.path.join(WIN_BIN, "fileholder.exe"),
                                       INSTALL_DIR + "\\quorveld.dat"],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            try:
                self.assertEqual(holder.stdout.readline().strip(), b"holding")
                env.start_service()
                # Upload steps follow each other at once; each finds the trim still refused.
                env.wait_log(";Cache not trimmed", timeout=SLOW, count=4)
                self.assertEqual(len([p for p in env.server.paths() if p.startswith("/submitr")]),
                                 1)
            finally:
                holder.communicate(b"\n", timeout=30)
            self.assertTrue(wait_for(lambda: env.read_local("quorveld.dat") == b"", SLOW),
                            "cache never drained; log:\n" + env.log_text()[-3000:])
            submits = [p for p in env.server.paths() if p.startswith("/submitr")]
            self.assertEqual(len(submits), len(days))
            self.assertEqual(legacy_totals(read_legacy_database(env)),
                             expected_legacy_totals(days))

    def assert_killed_at_first_write_then_drain_merge_once(self, local_path):
        """Kills the service three times the moment it first writes the file (strace stops it
        there, however busy the machine), then drains: the database must hold every box-day
        once and the cache end empty."""
        why_not = syscall_trace.unavailable()
        if why_not:
            self.skipTest(why_not)
        records, days = three_days()
        with ServiceEnv(settings=UPLOAD_CONTINUOUSLY, display=False) as env:
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(cache_text("0123456789ABCD", records))
            make_legacy_database(env)
            # Wine's own processes start with the first program in a prefix; started by a
            # traced program they would keep strace running after the kill.
            env.run_windows_tool(["cmd", "/c", "exit"])
            path = env.prefix.unix_path(local_path)
            self.assertEqual([run_until_first_write(env, path) for _ in range(3)], [True] * 3)
            env.start_service()
            self.assertTrue(wait_for(lambda: env.read_local("quorveld.dat") == b"", SLOW),
                            "cache never drained; log:\n" + env.log_text()[-3000:])
            self.assertTrue(wait_for(lambda: not os.path.exists(env.local_file("quorveld.jnl")),
                                     SLOW))
            data = read_legacy_database(env)
            self.assertEqual(legacy_totals(data), expected_legacy_totals(days))
            self.assertEqual(data[2:16], LEGACY_HEADER_REST)
            self.assertEqual(env.prefix.read_ini("rcs.ini"),
                             {"Preferences": {"Database": LEGACY_DB},
                              "Communication": {"Port": "668"}})
            self.assertFalse(os.path.exists(env.local_file("rcs.ini.copy")))

    def test_killed_when_it_first_writes_rcs_ini(self):
        # The profile functions empty the file before they write it out again.
        self.assert_killed_at_first_write_then_drain_merge_once(r"C:\windows\rcs.ini")

    def test_killed_when_it_first_writes_the_database(self):
        self.assert_killed_at_first_write_then_drain_merge_once(LEGACY_DB)

    def test_killed_at_the_first_change_of_the_trims_list_file(self):
        self.assert_killed_at_first_write_then_drain_merge_once(INSTALL_DIR + "\\quorveld.lst")

    def test_each_step_is_on_the_disk_before_the_next_begins(self):
        """Traced at the system calls (the program's and the wineserver's): the journal is
        flushed and in place before the database is written, the database is flushed before
        the cache is trimmed, and every file is flushed before it takes its name."""
        why_not = syscall_trace.unavailable()
        if why_not:
            self.skipTest(why_not)
        records, days = three_days()
        with tempfile.TemporaryDirectory() as traces, \
                ServiceEnv(settings=UPLOAD_CONTINUOUSLY, display=False) as env:
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(cache_text("0123456789ABCD", records))
            make_legacy_database(env)
            server_trace, service_trace = (os.path.join(traces, n) for n in ("ws", "service"))
            # Both tracers end with the wineserver, which the end of the site stops.
            tracers = [syscall_trace.attach(syscall_trace.wineserver_pid(env.prefix.path),
                                            server_trace),
                       subprocess.Popen(syscall_trace.traced(
                           wine_command() + [INSTALL_DIR + "\\quorveld.exe"], service_trace),
                           env=env.prefix.env, cwd=env.prefix.drive_c,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
            self.assertTrue(wait_for(lambda: env.read_local("quorveld.dat") == b"" and not
                                     os.path.exists(env.local_file("quorveld.jnl")), SLOW),
                            "cache never drained; log:\n" + env.log_text()[-3000:])
            self.assertEqual(legacy_totals(read_legacy_database(env)),
                             expected_legacy_totals(days))
            env.prefix.stop_server()
            for tracer in tracers:
                tracer.wait(30)
            order = syscall_trace.DurableOrder("counts.db", "quorveld.dat", "quorveld.lst",
                                               "quorveld.jnl")
            for _, call, files in syscall_trace.events(server_trace, service_trace):
                order.follow(call, files)
        self.assertEqual((order.merges, order.trims), (len(days), len(days)))
        self.assertEqual(order.faults, [])

    def test_scrambled_requests_and_a_server_that_never_answers(self):
        # Counts with hex letters in their sums; serials with and without hex letters.
        day = datetime.date(2007, 1, 22)
        records = make_records([(day, 8, 0xAB, 0xCDEF), (day, 8, 1, 1), (day, 23, 65535, 9)])
        digits_only, lettered = "00123456789012", "0A0B0C0D0E0F00"
        with ServiceEnv(settings=dict(UPLOAD_CONTINUOUSLY, Encrypt=1), display=False) as env:
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(cache_text(digits_only, records) + cache_text(lettered, records[:1]))
            # The start-up ping, then an upload left unanswered past the client's time-out.
            env.server.queue(Reply(result=None), Reply(delay=40))
            env.start_service()
            self.assertTrue(wait_for(lambda: env.read_local("quorveld.dat") == b"", SLOW),
                            "cache never drained; log:\n" + env.log_text()[-3000:])

            self.assertEqual(upload_results(env), [";Upload failed.  Server response 0",
                                       ";Upload successful.  Server response 200",
                                       ";Upload successful.  Server response 200"])
            uploads = [r for r in env.server.requests if r.path.startswith("/submitr")]
            self.assertEqual(len(uploads), 3)
            for request in uploads:
                self.assertRegex(request.path, r"^/submitrs\?[0-9A-F]{4}[0-9]{22}")
                self.assertIsNone(request.error)
            batches = [r.batch for r in uploads]
            self.assertTrue(all(b.scrambled for b in batches))
            expected = box_days(digits_only, records)[0]
            self.assert_batch(batches[0], expected)
            self.assert_batch(batches[1], expected)
            # The head scrambles every character as a digit: a to f come back as 9, 0 to 4.
            self.assert_batch(batches[2], ("09000102030400",) + box_days(lettered, records[:1])[0][1:])


if __name__ == "__main__":
    unittest.main()
