"""The updater as a fleet roll-out runs it under Wine: /quiet from an unpacked release in a
download folder, a service that hangs on the close request, a failed update with /start, a
run after one killed between its swaps, and a folder loop on C:."""
import os
import time
import unittest

from harness import WIN_BIN, wait_for
from test_updater import INTACT, PAYLOADS, payload
from test_updater_unattended import UnattendedCase

RELEASE = r"C:\users\Public\Downloads\quorvel-1.0.4.1"
SERVICE_INI = {"Options": {"ServerDomain": "127.0.0.1", "ServerPort": "9",
                           "ComPorts": "990990990390"}}


class FleetUpdaterTest(UnattendedCase):
    def place_payloads(self, folder):
        for name in PAYLOADS:
            self.place(folder + "\\" + name, payload(name))

    def temporaries(self, folder):
        return sorted(name for name in os.listdir(self.prefix.unix_path(folder))
                      if name.endswith((".new", ".old")))

    def test_quiet_from_an_unpacked_release_installs_to_c_quorvl(self):
        self.place_payloads(RELEASE)
        with open(os.path.join(WIN_BIN, "updater.exe"), "rb") as f:
            self.place(RELEASE + r"\updater.exe", f.read())
        self.place(RELEASE + r"\quorvel-release.txt", b"Quorvel client 1.0.4.1\r\n")
        proc = self.start(RELEASE + r"\updater.exe", "/quiet", r"/log=C:\update.log")
        self.assertEqual(proc.wait(180), 0)
        for name in PAYLOADS:
            self.assertEqual(self.read(r"C:\quorvl" + "\\" + name), payload(name), name)
            self.assertEqual(self.read(RELEASE + "\\" + name), payload(name), name)
        self.assertEqual(self.autorun(), r"C:\quorvl\quorveld.exe")
        self.assertEqual(self.log_lines(), INTACT + [
            "Searching for quorveld.exe...",
            "Not an installation (the release's own copy): %s\\quorveld.exe" % RELEASE,
            "Update successful.", "Autorun registry key added."])

    def test_a_hung_service_is_ended_after_the_time_out(self):
        service = self.start_fake_service("hang")
        started = time.monotonic()
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log", timeout=120), 0)
        self.assertLess(time.monotonic() - started, 60)
        # Ended; Wine passes on exit code 666 of a process ended while hung as 0, not 154.
        service.wait(10)
        lines = self.log_lines()
        self.assertEqual(lines[3:6], ["quorveld is running.", "Shutting it down.",
                                      "Terminating process."])
        self.assertEqual(lines[-2:], ["Update successful.", "Autorun registry key added."])

    def test_a_failed_update_with_start_leaves_the_old_program_running(self):
        self.place_payloads(r"C:\quorvl")
        self.start_fake_service(1)
        old = self.read(r"C:\quorvl\quorveld.exe")
        # Readable, so that the program can start again, but not replaceable.
        self.start(r"C:\tools\fake_service.exe", "hold", r"C:\quorvl\quorveld.exe")
        self.assertTrue(wait_for(lambda: self.holds_open(r"C:\quorvl\quorveld.exe"), 30))
        self.assertEqual(self.run_updater("/quiet", "/start", r"/log=C:\update.log"), 1)
        self.assertEqual(self.log_lines()[-3:], [
            "Update failed.", r"Starting the stopped program again: C:\quorvl\quorveld.exe",
            "quorveld started."])
        self.wait_for_service()
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), old)
        self.assertEqual(self.temporaries(r"C:\quorvl"), [])
        self.assertIsNone(self.autorun())

    def test_after_a_kill_between_the_swaps_the_next_run_starts_the_program(self):
        # What a run killed after swapping the program, before the libraries, leaves.
        folder = r"C:\quorvl"
        self.place(folder + r"\quorveld.exe", payload("quorveld.exe"))
        self.place(folder + r"\quorveld.exe.old", b"old program")
        for name in PAYLOADS[1:]:
            self.place(folder + "\\" + name, b"old library")
            self.place(folder + "\\" + name + ".old", b"old library")
            self.place(folder + "\\" + name + ".new", payload(name))
        self.prefix.write_ini("quorveld.INI", SERVICE_INI)
        self.assertEqual(self.run_updater("/quiet", "/start", r"/log=C:\update.log"), 0)
        for name in PAYLOADS:
            self.assertEqual(self.read(folder + "\\" + name), payload(name), name)
        self.assertEqual(self.temporaries(folder), [])
        self.assertEqual(self.log_lines()[-1], "quorveld started.")
        self.wait_for_service()


class FolderLoopTest(UnattendedCase):
    """Two links on C: that lead back up their own tree."""

    def test_a_folder_loop_does_not_hold_the_search(self):
        loop = self.prefix.unix_path(r"C:\loop")
        os.makedirs(os.path.join(loop, "inner"))
        os.symlink("..", os.path.join(loop, "inner", "up"))
        os.symlink(".", os.path.join(loop, "here"))
        self.place(r"C:\found\quorveld.exe", b"old")
        started = time.monotonic()
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log", timeout=120), 0)
        self.assertLess(time.monotonic() - started, 60)
        self.assertEqual(self.read(r"C:\found\quorveld.exe"), payload("quorveld.exe"))


if __name__ == "__main__":
    unittest.main()
