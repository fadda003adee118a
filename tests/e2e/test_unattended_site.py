"""What a site's wiring and people do to an unattended service: boxes that fall silent in
mid-line, a close or the end of a session while a box or dialog waits for the operator, a
server that sends more than any reply holds. The service goes on, or ends cleanly."""
import unittest

from harness import (UPLOAD_CONTINUOUSLY, BoxSimulator, Reply, ServiceEnv, ServiceTestCase,
                     generate_records, wait_for)

SERVICE_WINDOW = "Quorvel Service"
DIALOG = "quorveld"
ABOUT = "About quorveld"
ABOUT_COMMAND = 16
SHUTDOWN_LINE = "=*" * 23 + "="
# A poll every minute; uploads as the test sets them.
POLL_EVERY_MINUTE = {"BoxRate": 1440, "UploadRate": 1}
# The first poll comes a minute after start; the service's ticks are paced on a shared machine.
SLOW = 150


class UnattendedSiteTest(ServiceTestCase):
    def assert_ended_cleanly(self, env, service):
        self.assertEqual(service.wait(30), 0)
        lines = env.log_lines()
        self.assertEqual(lines.count(SHUTDOWN_LINE), 1, lines[-6:])
        self.assertEqual(lines[-2], SHUTDOWN_LINE)
        self.assertRegex(lines[-1], r"^;Service shutdown at ")

    def test_boxes_cut_off_in_mid_line_hold_up_the_site_one_time_out_only(self):
        counted = BoxSimulator(serial="33333333333333", records=generate_records(1, seed=7)[:3])
        boxes = {0: BoxSimulator(serial="11111111111111", cut_off_with=b"0D1601"),
                 1: BoxSimulator(serial="22222222222222", cut_off_with=b"\x8f"),
                 2: counted}
        settings = {"BoxRate": 1440, "UploadRate": 480}  # uploads a minute apart over 3 ports
        with ServiceEnv(boxes=boxes, settings=settings, display=False) as env:
            env.start_service()
            env.wait_log(";Data successfully cleared.", timeout=SLOW)
            self.assertEqual(env.log_text().count(";The unit is not responding to AutoSerial."),
                             2)
            self.assertTrue(wait_for(lambda: any(b.serial == counted.serial
                                                 for b in env.server.batches), SLOW),
                            "no upload; log:\n" + env.log_text()[-3000:])
            batch = next(b for b in env.server.batches if b.serial == counted.serial)
            self.assertEqual(sum(c1 for c1, _ in batch.hours),
                             sum(r.count1 for r in generate_records(1, seed=7)[:3]))

    def test_end_of_session_while_download_aborted_is_up(self):
        box = BoxSimulator(serial="44444444444444", records=generate_records(1, seed=5),
                           biteme_after=2)
        with ServiceEnv(boxes={0: box}, settings=POLL_EVERY_MINUTE) as env:
            service = env.start_service()
            driver = env.driver()
            self.assertEqual(driver.box_text("Download Aborted", timeout=SLOW),
                             "The data download is incomplete.")
            self.assertEqual(driver.query_end_session(SERVICE_WINDOW), 1)
            self.assert_ended_cleanly(env, service)
            self.assertFalse(driver.exists("Download Aborted"))

    def test_close_inside_the_options_dialog_and_its_about_box(self):
        with ServiceEnv(settings=POLL_EVERY_MINUTE) as env:
            env.prefix.wine(["cmd", "/c", "exit"], timeout=120)
            driver = env.driver()
            service = env.start_service()
            self.assertTrue(env.server.wait_for_requests(1, 30), "the service did not start")
            for _ in range(3):
                driver.chord()
                if wait_for(lambda: driver.exists(DIALOG), 10, interval=0.3):
                    break
            driver.wait_window(DIALOG, "#32770")
            driver.syscommand(DIALOG, ABOUT_COMMAND)
            driver.wait_window(ABOUT, "#32770")
            driver.post_close(SERVICE_WINDOW)
            self.assert_ended_cleanly(env, service)
            self.assertFalse(driver.exists(ABOUT))
            self.assertFalse(driver.exists(DIALOG))

    def test_an_endless_upload_reply_is_read_to_its_bound_and_taken_as_it_stands(self):
        with ServiceEnv(settings=UPLOAD_CONTINUOUSLY, display=False) as env:
            with open(env.local_file("quorveld.dat"), "wb") as f:
                f.write(b"55555555555555,20070122,13,00012,00034\n")
            env.server.submit_reply = Reply(endless=True)
            service = env.start_service()
            # Unbounded, the reply would run for ENDLESS_LIMIT seconds, far beyond this wait.
            self.assertTrue(wait_for(lambda: ";Upload successful.  Server response 200"
                                     in env.log_text(), 90),
                            "no upload ended; log:\n" + env.log_text()[-3000:])
            self.assertEqual(env.read_local("quorveld.dat"), b"")
            self.assertIsNone(service.poll())


if __name__ == "__main__":
    unittest.main()
