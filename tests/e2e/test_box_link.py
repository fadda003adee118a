"""Box polls under Wine against simulated boxes on pseudo-terminals: what reaches the cache,
what the boxes are told, and what the log says."""
import datetime
import unittest

from harness import (POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, BoxSimulator, Reply, ServiceEnv,
                     ServiceTestCase, cache_line, generate_records, wait_for)
from boxsim import record_line
from serverstub import CLOCK_LOCAL, CLOCK_WRONG

SEPARATOR = ";" + "=" * 45
SHORT_TIME = r"\d\d/\d\d/\d\d \d{4}"
LONG_TIME = r"\d{4}/\d\d/\d\d @ \d\d:\d\d:\d\d"
# The boxes' exchanges are paced by the service's 100 ms tick on a machine shared with others.
SLOW = 90


def cache_text(serial, records):
    return "".join(cache_line(serial, r) + "\n" for r in records).encode("ascii")


def port_sections(lines):
    """The log cut into the sections that begin with a separator line (text before the first
    separator is dropped)."""
    sections = []
    for line in lines:
        if line == SEPARATOR:
            sections.append([])
        elif sections:
            sections[-1].append(line)
    return sections


def record_log_lines(records):
    return ["record%5d:%s" % (k + 1, record_line(r)) for k, r in enumerate(records)]


class BoxLinkTest(ServiceTestCase):
    def assert_download_section(self, section, serial, records):
        """One port's whole download exchange, line by line, as the log shows it."""
        self.assertRegex(section[0], "^;Download initiated at %s$" % SHORT_TIME)
        self.assertEqual(section[1], ";Serial #" + serial.lower())
        self.assertEqual(section[2], "Download initiated from %s v 01" % serial.lower())
        self.assertRegex(section[3], "^;start %s$" % LONG_TIME)
        self.assertEqual(section[4:4 + len(records)], record_log_lines(records))
        rest = section[4 + len(records):]
        self.assertEqual(len(rest), 3, rest)
        self.assertRegex(rest[0], "^;ended %s$" % LONG_TIME)
        self.assertEqual(rest[1:], [";clearing data...", ";Data successfully cleared."])

    def test_poll_over_three_ports_downloads_both_boxes_and_clears_them(self):
        first = BoxSimulator(serial="0123456789ABCD", records=generate_records(2, seed=1))
        third = BoxSimulator(serial="00A1B2C3D4E5F6", records=generate_records(
            2, start=datetime.date(2007, 1, 23), seed=2))
        first_records, third_records = list(first.records), list(third.records)
        with ServiceEnv(boxes={0: first, 2: third}, missing_ports=(1,),
                        settings=POLL_CONTINUOUSLY, display=False) as env:
            env.start_service()
            # The box counts itself cleared just before it answers; the log line follows.
            env.wait_log(";Data successfully cleared.", timeout=SLOW, count=2)
            self.assertTrue(first.cleared and third.cleared)

            self.assertEqual(env.read_local("quorveld.dat"),
                             cache_text(first.serial, first_records)
                             + cache_text(third.serial, third_records))
            self.assertEqual(first.records, [])
            # One acknowledgement per record; the box's own COOL then ends the data.
            self.assertEqual(third.received()[:3 + len(third_records)],
                             ["SSSN", "SSDD"] + ["COOL"] * len(third_records) + ["SSCD"])

            sections = port_sections(env.log_lines())
            self.assertGreaterEqual(len(sections), 3)
            self.assert_download_section(sections[0], first.serial, first_records)
            self.assertEqual(len(sections[1]), 2, sections[1])
            self.assertRegex(sections[1][0], "^;Download initiated at %s$" % SHORT_TIME)
            self.assertEqual(sections[1][1], ";Unable to open com port 1")
            self.assert_download_section(sections[2], third.serial, third_records)

    def test_rejected_record_silent_box_and_box_that_stops(self):
        records = generate_records(1, seed=3)
        # This one also asks for the acknowledgement of record 1 again, and sends every line
        # in three pieces.
        resent = BoxSimulator(serial="11111111111111", records=records, bad_checksum={3},
                              hash_at={2}, split_writes=3)
        silent = BoxSimulator(serial="22222222222222", silent=True)
        stopping = BoxSimulator(serial="33333333333333", records=generate_records(1, seed=4),
                                stop_after=5)
        stopping_records = list(stopping.records)

        def resume_on_second_poll(direction, text, _when):
            if direction == "in" and text == "SSSN" and stopping.received().count("SSSN") == 2:
                stopping.stop_after = None
        stopping.on_event = resume_on_second_poll

        with ServiceEnv(boxes={0: resent, 1: silent, 2: stopping}, settings=POLL_CONTINUOUSLY,
                        display=False) as env:
            env.start_service()
            self.assertTrue(wait_for(lambda: stopping.cleared, SLOW),
                            "the box that stopped was never cleared; log:\n"
                            + env.log_text()[-3000:])
            sections = port_sections(env.log_lines())

            with self.subTest("a bad checksum is answered BUMMER, HASH gets the last command again"):
                self.assertEqual(resent.sent()[3:7], ["HASH", record_line(records[2]),
                                                      record_line(records[3], bad_checksum=True),
                                                      record_line(records[3])])
                self.assertEqual(resent.received()[:8],
                                 ["SSSN", "SSDD", "COOL", "COOL", "COOL", "COOL", "BUMMER", "COOL"])
                log = sections[0]
                self.assertEqual(log[4:7], record_log_lines(records)[:3])
                self.assertEqual(log[7], ": Bad checksum.")
                self.assertEqual(log[8:-3], record_log_lines(records)[3:])
                self.assertEqual(log[-1], ";Data successfully cleared.")
                self.assertEqual(resent.records, [])

            with self.subTest("a silent box times out"):
                self.assertEqual(len(sections[1]), 2, sections[1])
                self.assertEqual(sections[1][1], ";The unit is not responding to AutoSerial.")
                self.assertEqual(silent.received()[0], "SSSN")

            with self.subTest("a box that stops mid-download keeps its records"):
                log = sections[2]
                self.assertEqual(log[4:9], record_log_lines(stopping_records)[:5])
                self.assertEqual(log[9:], [";The unit is not responding.", ";"])
                # The next poll finds everything still there and clears the box only then; the
                # repeat of the five already stored is not stored again.
                self.assertEqual(stopping.received().count("SSCD"), 1)
                self.assertEqual(stopping.records, [])
                cache = env.read_local("quorveld.dat")
                self.assertEqual(cache, cache_text(resent.serial, records)
                                 + cache_text(stopping.serial, stopping_records))

    def test_biteme_shows_the_incomplete_download_and_keeps_the_records(self):
        box = BoxSimulator(serial="44444444444444", records=generate_records(1, seed=5),
                           biteme_after=10)
        stored = list(box.records)

        def give_up_for_good(direction, text, _when):
            # A unit that gave up answers nothing more, so later polls show no further box.
            if direction == "out" and text == "BITEME":
                box.silent = True
        box.on_event = give_up_for_good

        with ServiceEnv(boxes={0: box}, settings=POLL_CONTINUOUSLY) as env:
            env.start_service()
            driver = env.driver()
            self.assertEqual(driver.box_text("Download Aborted", timeout=SLOW),
                             "The data download is incomplete.")
            env.screenshot("box_link_download_aborted")
            driver.answer("Download Aborted", "ok")
            driver.wait_gone("Download Aborted", "#32770")

            self.assertEqual(box.cleared, 0)
            self.assertEqual(box.records, stored)
            self.assertNotIn("SSCD", box.received())
            self.assertEqual(env.read_local("quorveld.dat"), cache_text(box.serial, stored[:10]))
            log = port_sections(env.log_lines())[0]
            self.assertEqual(log[4:14], record_log_lines(stored)[:10])
            self.assertEqual(log[14:], [
                ";Error downloading data. The data download is incomplete."])

    def test_matching_server_clock_sets_every_selected_box(self):
        wrong = datetime.datetime(2003, 3, 3, 3, 3, 3)
        boxes = {0: BoxSimulator(serial="55555555555555", clock=wrong),
                 2: BoxSimulator(serial="66666666666666", clock=wrong)}
        with ServiceEnv(boxes=boxes, settings=UPLOAD_CONTINUOUSLY, display=False) as env:
            # Two days to upload: the first reply's clock is off by hours, the second's agrees.
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(b"55555555555555,20070122,13,00012,00034\n"
                        b"55555555555555,20070123,13,00001,00002\n")
            env.server.queue(Reply(result=None), Reply(clock=CLOCK_WRONG))  # the ping, upload 1
            env.server.submit_reply = Reply(clock=CLOCK_LOCAL)
            env.start_service()
            self.assertTrue(wait_for(lambda: all(b.clock_sets for b in boxes.values()), SLOW),
                            "no clock set; log:\n" + env.log_text()[-3000:])
            now = datetime.datetime.now()
            env.wait_log(";The remote time has been set to system time.", count=2)

            self.assertEqual(len(env.server.batches), 2)
            for box in boxes.values():
                self.assertEqual(len(box.clock_sets), 1, "one clock pass only")
                self.assertLess(abs((box.clock_sets[0] - now).total_seconds()), 60)
                command = [t for t in box.received() if t.startswith("SSTS")]
                self.assertEqual(len(command), 1)
                self.assertRegex(command[0], "^SSTS[0-9A-F]{14}$")
            # The pass comes right after the upload that brought the clock mark.
            lines = env.log_lines()
            second = [i for i, line in enumerate(lines)
                      if line == ";Upload successful.  Server response 200"][1]
            self.assertEqual(lines[second + 1:second + 3],
                             [";The remote time has been set to system time."] * 2)


if __name__ == "__main__":
    unittest.main()
