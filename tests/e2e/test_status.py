"""quorvel-status.exe under Wine against a running quorveld with simulated boxes and the stub
server: OK while counts are delivered, CRITICAL once the server has been down past the
threshold, CRITICAL after the service has shut down, CRITICAL naming the port of a box that
stopped answering, never OK without a log or with a server that answers 201; the metrics file
as a real scraper's tooling reads it."""
import datetime
import json
import os
import shutil
import subprocess
import time
import unittest

from harness import (INSTALL_DIR, POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, WIN_BIN, BoxSimulator,
                     ServiceEnv, ServiceTestCase, generate_records, wait_for)
from serverstub import Reply

SLOW = 90
STATUS = INSTALL_DIR + "\\quorvel-status.exe"


def cleared(env, times):
    """The box has been cleared `times` times: its download ended whole."""
    return env.log_text().count(";Data successfully cleared.") >= times


def cache_lines(env):
    data = env.read_local("quorveld.dat")
    return len(data.splitlines()) if data else 0


class StatusTest(ServiceTestCase):
    def status(self, env, *args):
        """(exit code, summary line, the whole output) of quorvel-status."""
        code, out = env.run_windows_tool([STATUS] + list(args))
        lines = out.replace("\r\n", "\n").split("\n")
        return code, lines[0], out

    def status_between_uploads(self, env, *args):
        """status(), read while no upload is under way: with uploads back to back, a read can
        fall between an attempt and its result."""
        result = []

        def settled():
            result[:] = [self.status(env, *args)]
            return "no result logged" not in result[0][2]
        wait_for(settled, 30, interval=0.5)
        return result[0]

    def run_until(self, env, settings, done, what):
        env.write_settings(**settings)
        service = env.start_service()
        self.assertTrue(wait_for(done, SLOW), what + "; log:\n" + env.log_text()[-3000:])
        return service

    def test_ok_while_delivering_then_critical_when_late_and_when_shut_down(self):
        box = BoxSimulator(serial="0123456789ABCD", records=generate_records(1, seed=3))
        with ServiceEnv(boxes={0: box}, settings=POLL_CONTINUOUSLY, display=False) as env:
            shutil.copy(os.path.join(WIN_BIN, "quorvel-status.exe"),
                        env.local_file("quorvel-status.exe"))
            # The box's day is downloaded, then uploaded and accepted.
            service = self.run_until(env, POLL_CONTINUOUSLY, lambda: cleared(env, 1),
                                     "the box's day was not downloaded")
            service.kill()
            service.wait(30)
            service = self.run_until(env, UPLOAD_CONTINUOUSLY,
                                     lambda: ";Upload successful." in env.log_text()
                                     and cache_lines(env) == 0, "the day was not uploaded")
            delivered = time.time()

            code, summary, out = self.status(env)
            self.assertEqual(code, 0, out)
            self.assertRegex(summary, r"^QUORVEL OK - 1 port, 1 box, 0 records waiting, "
                                      r"last delivery \d+ (s|min) ago \| waiting=0;;; "
                                      r"box_days=0;;; upload_age_s=\d+;;; "
                                      r"download_age_s=\d+;21600;172800; ")
            self.assertIn("Service: running", out)
            self.assertIn("\nProgram: " + INSTALL_DIR + "\\quorveld.exe, version 1.0.4.1\n",
                          out.replace("\r\n", "\n"))
            self.assertIn("box 0123456789abcd: last download ", out)
            self.assertIn("24 records, unit cleared", out)
            self.assertRegex(out, r"last delivered upload: [\d/: ]+, box 0123456789abcd, "
                                  r"day 20070122, accepted \(server response 200\)")

            code, _, out = self.status(env, "--json")
            facts = json.loads(out)
            self.assertEqual((code, facts["status"], facts["service_running"]), (0, "OK", True))
            self.assertEqual(facts["version"], "1.0.4.1")
            self.assertEqual(facts["log"]["last_delivered_upload"]["serial"], "0123456789abcd")
            self.assertEqual(facts["settings"]["com_ports"], ["COM1"])

            # The server goes away; the box has a new day, which waits in the cache.
            service.kill()
            service.wait(30)
            env.server.refuse()
            box.records.extend(generate_records(1, start=datetime.date(2007, 1, 23), seed=4))
            service = self.run_until(env, POLL_CONTINUOUSLY,
                                     lambda: cleared(env, 2) and cache_lines(env) == 24,
                                     "the new day was not downloaded")
            service.kill()
            service.wait(30)
            service = self.run_until(env, UPLOAD_CONTINUOUSLY,
                                     lambda: ";Upload failed.  Server response 0" in env.log_text(),
                                     "no failed upload")
            code, summary, out = self.status(env)
            self.assertEqual(code, 0, "not yet late with the usual thresholds: " + out)
            self.assertIn("24 records waiting", summary)

            # Past a threshold of 18 seconds: critical. Log times are whole minutes, taken
            # before the upload was seen, so the age read is at least the time waited here.
            wait_for(lambda: time.time() - delivered > 20, 30)
            code, summary, out = self.status_between_uploads(env, "--warn-hours", "0.001",
                                                             "--crit-hours", "0.005")
            self.assertEqual(code, 2, out)
            # The box's download may have passed a threshold too; the upload is critical.
            self.assertRegex(summary, r"^QUORVEL CRITICAL - no upload delivered for \d+ (s|min)"
                                      r"(, [^;]*)?; 1 port, 1 box, 24 records waiting, "
                                      r"last delivery \d+ (s|min) ago \| ")
            self.assertRegex(out, r"last upload attempt: [\d/: ]+, box 0123456789abcd, "
                                  r"day 20070123, failed \(server response 0\)")
            self.assertRegex(out, r"last delivered upload: [^\n]*; [1-9]\d* not delivered since")

            # Shut down as at the end of a session: critical, whatever the thresholds.
            self.assertEqual(env.driver().query_end_session("Quorvel Service"), 1)
            service.wait(30)
            code, summary, out = self.status(env)
            self.assertEqual(code, 2, out)
            self.assertTrue(summary.startswith("QUORVEL CRITICAL - service not running; 1 port, "
                                               "1 box, 24 records waiting"), summary)
            self.assertRegex(out, r"Service: not running, the log ends with its shutdown at ")

    def test_unreadable_settings_and_bad_arguments_are_unknown(self):
        with ServiceEnv(display=False) as env:
            shutil.copy(os.path.join(WIN_BIN, "quorvel-status.exe"),
                        env.local_file("quorvel-status.exe"))
            code, summary, _ = self.status(env, "--ini", r"C:\nowhere\quorveld.INI")
            self.assertEqual((code, summary), (3, "QUORVEL UNKNOWN - settings file "
                                                  r"C:\nowhere\quorveld.INI not found"))
            code, summary, _ = self.status(env, "--dir", r"C:\no\such\folder")
            self.assertEqual((code, summary),
                             (3, r"QUORVEL UNKNOWN - storage folder C:\no\such\folder not found"))
            # Which version runs is seen even when nothing else can be read.
            _, out = env.run_windows_tool([STATUS, "--json", "--dir", r"C:\no\such\folder"])
            self.assertEqual(json.loads(out)["version"], "1.0.4.1")
            code, summary, _ = self.status(env, "--crit-hours", "soon")
            self.assertEqual((code, summary), (3, "QUORVEL UNKNOWN - --crit-hours needs a positive "
                                                  "number of hours, not 'soon'"))
            # A log and a cache of garbage: a clear statement, never a crash.
            with open(env.local_file("quorveld.log"), "wb") as f:
                f.write(os.urandom(300000))
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(b"\x00garbage\n" * 1000)
            code, summary, out = self.status(env)
            self.assertEqual(code, 2, out)  # the service does not run
            self.assertTrue(summary.startswith("QUORVEL CRITICAL - service not running, no time in "
                                               "the log "), summary)
            self.assertIn("1000 lines not whole records (first: line 1)", out)

    def test_a_box_that_stops_answering_is_critical_and_its_port_named(self):
        serials = ["0123456789ABC1", "0123456789ABC2", "0123456789ABC3"]
        boxes = {port: BoxSimulator(serial=serial) for port, serial in enumerate(serials)}
        with ServiceEnv(boxes=boxes, settings=POLL_CONTINUOUSLY, display=False) as env:
            shutil.copy(os.path.join(WIN_BIN, "quorvel-status.exe"),
                        env.local_file("quorvel-status.exe"))
            self.run_until(env, POLL_CONTINUOUSLY, lambda: cleared(env, 6),
                           "the three boxes were not polled twice")
            boxes[1].silent = True  # pulled from COM2
            pulled = time.time()
            # The others go on answering while COM2's box has been silent past 12 seconds.
            self.assertTrue(wait_for(lambda: time.time() - pulled > 75 and
                                     env.log_text().count(";Data successfully cleared.") >= 10,
                                     SLOW), env.log_text()[-3000:])
            code, summary, out = self.status(env, "--warn-hours", "0.01", "--crit-hours", "0.02")
            self.assertEqual(code, 2, out)
            self.assertIn("box 0123456789abc2 without a download for ", summary)
            self.assertIn("1 of 3 ports without a download for over 72 s (COM2)", summary)
            self.assertNotIn("box 0123456789abc1", summary)
            self.assertNotIn("box 0123456789abc3", summary)
            self.assertIn("; 3 ports, 3 boxes, 0 records waiting", summary)
            self.assertRegex(out, r"COM1: last download [\d/: ]+ \(box 0123456789abc1\)")

    def test_records_waiting_are_not_ok_without_a_log_nor_with_a_server_answering_201(self):
        box = BoxSimulator(serial="0123456789ABCD", records=generate_records(1, seed=5))
        settings = dict(POLL_CONTINUOUSLY, Logging=0)
        with ServiceEnv(boxes={0: box}, settings=settings, display=False) as env:
            shutil.copy(os.path.join(WIN_BIN, "quorvel-status.exe"),
                        env.local_file("quorvel-status.exe"))
            env.server.refuse()
            self.run_until(env, settings, lambda: cache_lines(env) == 24,
                           "the day was not downloaded")
            code, summary, out = self.status(env)
            self.assertEqual(code, 1, out)
            self.assertEqual(summary.split(";")[0],
                             "QUORVEL WARNING - no log at " + INSTALL_DIR + "\\quorveld.log "
                             "(logging is off): nothing tells whether the waiting records move")
            self.assertFalse(os.path.exists(env.local_file("quorveld.log")))

            # Logging on, and a server that takes every batch with a 201: nothing is trimmed.
            for proc in env.processes:
                proc.kill()
                proc.wait(30)
            env.server.submit_reply = Reply(result=201)
            env.server.resume()
            env.write_settings(**dict(UPLOAD_CONTINUOUSLY, Logging=1))
            env.start_service()
            self.assertTrue(wait_for(lambda: env.log_text().count(
                ";Upload successful.  Server response 201") >= 2, SLOW), env.log_text()[-3000:])
            started = time.time()
            wait_for(lambda: time.time() - started > 20, 30)
            self.assertEqual(cache_lines(env), 24)
            code, summary, out = self.status_between_uploads(env, "--warn-hours", "0.001",
                                                             "--crit-hours", "0.005")
            self.assertEqual(code, 2, out)
            self.assertRegex(summary, r"^QUORVEL CRITICAL - no upload delivered for \d+ (s|min) "
                                      r"\(\d+ answered 201: nothing trimmed\)")
            self.assertIn("24 records waiting, last delivery never", summary)

    def test_metrics_file_passes_the_scrapers_own_check(self):
        promtool = shutil.which("promtool")
        if not promtool:
            self.skipTest("promtool (Debian package prometheus) is not installed")
        box = BoxSimulator(serial="0123456789ABCD", records=generate_records(1, seed=6))
        with ServiceEnv(boxes={0: box}, settings=POLL_CONTINUOUSLY, display=False) as env:
            shutil.copy(os.path.join(WIN_BIN, "quorvel-status.exe"),
                        env.local_file("quorvel-status.exe"))
            env.server.refuse()
            self.run_until(env, POLL_CONTINUOUSLY, lambda: cache_lines(env) == 24,
                           "the day was not downloaded")
            plain_code, plain_summary, _ = self.status(env)
            code, summary, out = self.status(env, "--prom", INSTALL_DIR + "\\quorvel.prom")
            self.assertEqual(code, plain_code, out)
            self.assertEqual(summary.split(" | ")[0], plain_summary.split(" | ")[0])
            self.assertFalse(os.path.exists(env.local_file("quorvel.prom.tmp")))
            with open(env.local_file("quorvel.prom"), encoding="ascii") as f:
                metrics = f.read()
            check = subprocess.run([promtool, "check", "metrics"], input=metrics, text=True,
                                   capture_output=True, timeout=60)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr + metrics)
            self.assertIn("quorvel_records_waiting 24\n", metrics)
            self.assertIn('quorvel_box_records_waiting{serial="0123456789abcd"} 24\n', metrics)
            self.assertRegex(metrics, r'quorvel_box_last_download_age_seconds\{serial='
                                      r'"0123456789abcd",port="COM1"\} \d+\n')
            self.assertIn("quorvel_oldest_waiting_day_timestamp_seconds ", metrics)
            self.assertIn('\nquorvel_build_info{version="1.0.4.1"} 1\n', metrics)


if __name__ == "__main__":
    unittest.main()
