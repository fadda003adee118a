"""The service starts as a single hidden copy, pings its server, and ends when asked."""
import os
import time
import unittest

from harness import ServiceEnv, ServiceTestCase, wait_for


class ServiceCoreTest(ServiceTestCase):
    def test_start_single_copy_ping_and_end_of_session(self):
        with ServiceEnv(display=False) as env:
            driver = env.driver()
            first = env.start_service()
            self.assertTrue(env.server.wait_for_requests(1, 30), "no start-up request")
            self.assertEqual(env.server.paths()[0], "/ping?1.0.4.1")
            self.assertTrue(env.window_exists("Quorvel Service"))

            # A second copy ends at once and touches nothing.
            ini_before = open(os.path.join(env.prefix.windows_dir, "quorveld.INI"), "rb").read()
            second = env.start_service()
            self.assertEqual(second.wait(30), 0)
            self.assertEqual(len(env.server.paths()), 1, "the second copy sent a request")
            self.assertIsNone(first.poll(), "the first copy ended")
            self.assertEqual(open(os.path.join(env.prefix.windows_dir, "quorveld.INI"), "rb").read(),
                             ini_before)

            # The end-of-session query is accepted while idle; the service logs and ends.
            self.assertEqual(driver.query_end_session("Quorvel Service"), 1)
            first.wait(30)
            lines = env.log_lines()
            self.assertEqual(lines[-2], "=*" * 23 + "=")
            self.assertEqual(len(lines[-2]), 47)
            self.assertRegex(lines[-1], r"^;Service shutdown at \d\d/\d\d/\d\d \d{4}$")
            self.assertFalse(driver.exists("Quorvel Service"))

    def test_settings_from_the_ini_file(self):
        """Empty ServerDomain falls back to 127.0.0.1, ServerPort counts by its low 16 bits,
        a LocalDir with a trailing backslash is used as it stands, malformed numbers read as
        the profile reader reads them."""
        with ServiceEnv(display=False) as env:
            os.makedirs(env.prefix.unix_path(r"C:\data"), exist_ok=True)
            env.write_settings(ServerDomain="", ServerPort=65536 + env.server.port,
                               LocalDir="C:\\data\\", BoxRate="12abc", UploadRate="abc",
                               IgnoreProxy="-5", ComPorts="990990990390")
            service = env.start_service()
            self.assertTrue(env.server.wait_for_requests(1, 30), "no start-up request")
            self.assertTrue(env.window_exists("Quorvel Service"))
            self.assertEqual(env.driver().query_end_session("Quorvel Service"), 1)
            service.wait(30)
            log = env.read_local("quorveld.log", directory=r"C:\data")
            self.assertIsNotNone(log, "no log in the LocalDir folder")
            self.assertIn(b";Service shutdown at ", log)
            self.assertIsNone(env.read_local("quorveld.log"), "log written to the program folder")

    def test_malformed_negative_and_huge_settings(self):
        """Whatever stands in quorveld.INI, the service starts, keeps running and ends on request."""
        with ServiceEnv(display=False) as env:
            env.write_settings(BoxRate=-5, UploadRate=99999999999, ServerPort=-1, Logging=7,
                               LocalDir="C:\\no\\such\\folder", ComPorts="zz9" + "1" * 5000,
                               Encrypt=-1, IgnoreProxy="abc", SynchronizeClocks="",
                               ServerDomain="x" * 5000, ComPort=2 ** 40)
            service = env.start_service()
            self.assertTrue(env.window_exists("Quorvel Service", timeout=30))
            time.sleep(5)  # polls and uploads due at every tick, all failing
            self.assertIsNone(service.poll(), "the service ended")
            self.assertEqual(env.driver().query_end_session("Quorvel Service"), 1)
            self.assertEqual(service.wait(30), 0)

    def test_unreachable_server_does_not_stop_start_up(self):
        with ServiceEnv(display=False) as env:
            env.server.refuse()
            driver = env.driver()
            started = time.monotonic()
            service = env.start_service()
            self.assertTrue(env.window_exists("Quorvel Service", timeout=30))
            self.assertLess(time.monotonic() - started, 30)
            self.assertIsNone(service.poll())


if __name__ == "__main__":
    unittest.main()
