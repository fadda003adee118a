"""The updater's switches under Wine, as a remote-management tool uses them: /quiet fresh
installation and update, /start after the update of a running service, several copies with and
without an autorun value naming one, /target=, /log= and bad switches."""
import os
import re
import unittest

from harness import wait_for
from test_updater import INTACT, PAYLOADS, WINDOW, UpdaterCase, payload

LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.*)$")
BAD_SWITCH_BOX = "QuorVel updater"


class UnattendedCase(UpdaterCase):
    def run_updater(self, *args, timeout=180):
        """Runs the updater with `args` to its end; gives its exit code."""
        proc = self.start(r"C:\tools\updater.exe", *args)
        return proc.wait(timeout)

    def maps_file(self, windows_path):
        """True when a running process has mapped that file (Wine maps a program's image)."""
        unix = self.prefix.unix_path(windows_path)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/maps" % pid) as f:
                    if any(line.rstrip("\n").endswith(unix) for line in f):
                        return True
            except OSError:
                continue
        return False

    def holds_open(self, windows_path):
        """True when a process has that file open (Wine's server opens it on its behalf)."""
        unix = os.path.realpath(self.prefix.unix_path(windows_path))
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                fds = os.listdir("/proc/%s/fd" % pid)
            except OSError:
                continue
            for fd in fds:
                try:
                    if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == unix:
                        return True
                except OSError:
                    continue
        return False

    def log_lines(self, windows_path=r"C:\update.log"):
        """The status lines of the log, each checked for its date and time."""
        with open(self.prefix.unix_path(windows_path), "rb") as f:
            text = f.read().decode()
        self.assertTrue(text.endswith("\r\n"))
        lines = []
        for raw in text.split("\r\n")[:-1]:
            match = LOG_LINE.match(raw)
            self.assertTrue(match, raw)
            lines.append(match.group(1))
        return self.without_versions(lines)


class UnattendedUpdaterTest(UnattendedCase):
    def assert_installed(self, folder):
        for name in PAYLOADS:
            self.assertEqual(self.read(folder + "\\" + name), payload(name), name)

    # --- scenarios -------------------------------------------------------------------
    def test_quiet_fresh_installation_then_update_append_to_the_log(self):
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log"), 0)
        self.assert_installed(r"C:\quorvl")
        self.assertEqual(self.autorun(), r"C:\quorvl\quorveld.exe")
        first = INTACT + ["Searching for quorveld.exe...", "Update successful.",
                          "Autorun registry key added."]
        self.assertEqual(self.log_lines(), first)

        self.place(r"C:\quorvl\quorveld.exe", b"old")
        self.assertEqual(self.run_updater("/QUIET", r"/Log=C:\update.log"), 0)
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), payload("quorveld.exe"))
        self.assertEqual(self.log_lines(), first + INTACT + [
            r"File to replace: C:\quorvl\quorveld.exe", "Update successful.",
            "Autorun registry key added."])

    def test_quiet_start_runs_the_updated_service_again(self):
        old = payload("quorveld.exe") + b"\0old copy\0" * 8
        self.place(r"C:\quorvl\quorveld.exe", old)
        for name in PAYLOADS[1:]:
            self.place("C:\\quorvl\\" + name, payload(name))
        self.prefix.write_ini("quorveld.INI", {"Options": {
            "ServerDomain": "127.0.0.1", "ServerPort": "9", "ComPorts": "990990990390"}})
        service = self.start(r"C:\quorvl\quorveld.exe")
        self.wait_for_service()
        self.assertEqual(self.run_updater("/quiet", "/start", r"/log=C:\update.log"), 0)
        self.assertEqual(service.wait(10), 0)
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), payload("quorveld.exe"))
        self.assertEqual(self.log_lines(), INTACT + [
            "quorveld is running.", "Shutting it down.", "Shutdown complete.",
            r"File to replace: C:\quorvl\quorveld.exe", "Update successful.",
            "Autorun registry key added.", "quorveld started."])
        # The old process has ended, so the window belongs to a new one, and that one has the
        # new file mapped (a mapping of the replaced file would read "(deleted)").
        self.wait_for_service()
        self.assertTrue(wait_for(lambda: self.maps_file(r"C:\quorvl\quorveld.exe"), 20))

    def place_two_copies(self):
        copies = [r"C:\q1\quorveld.exe", r"C:\q2\deep\quorveld.exe"]
        for path in copies:
            self.place(path, b"old")
        return copies

    def test_quiet_with_two_copies_and_no_choice_does_nothing(self):
        copies = self.place_two_copies()
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log"), 3)
        for path in copies:
            self.assertEqual(self.read(path), b"old")
        self.assertFalse(os.path.exists(self.prefix.unix_path(r"C:\quorvl")))
        self.assertIsNone(self.autorun())
        lines = self.log_lines()
        self.assertEqual(lines[:4], INTACT + ["Searching for quorveld.exe..."])
        self.assertEqual(lines[4],
                         "Several copies found, and the autorun value names none of them:")
        self.assertEqual(sorted(lines[5:7]), ["  " + path for path in copies])
        self.assertEqual(lines[7:], ["Aborting."])

    def test_quiet_with_two_copies_takes_the_one_the_autorun_value_names(self):
        copies = self.place_two_copies()
        self.set_autorun(copies[1])
        self.assertEqual(self.run_updater("/quiet"), 0)
        self.assertEqual(self.read(copies[0]), b"old")
        self.assertEqual(self.read(copies[1]), payload("quorveld.exe"))
        self.assertEqual(self.autorun(), copies[1])

    def test_target_installs_there_without_searching(self):
        self.place(r"C:\elsewhere\quorveld.exe", b"old")
        target = r"C:\Program Files\Quorvel\quorveld.exe"
        self.assertEqual(self.run_updater("/quiet", "/target=" + target, r"/log=C:\update.log"), 0)
        self.assert_installed(r"C:\Program Files\Quorvel")
        self.assertEqual(self.read(r"C:\elsewhere\quorveld.exe"), b"old")
        # Quoted: unquoted, the system could take "C:\Program.exe" for the program.
        self.assertEqual(self.autorun(), '"%s"' % target)
        self.assertEqual(self.log_lines(), INTACT + ["Update successful.",
                                                     "Autorun registry key added."])

    def test_a_target_held_by_a_running_program_fails_and_stays_whole(self):
        # Another program keeps the file open; no service runs, so nothing stops it.
        self.place(r"C:\busy\quorveld.exe", b"old")
        holder = self.start(r"C:\tools\fake_service.exe", "hold", r"C:\busy\quorveld.exe")
        self.assertTrue(wait_for(lambda: self.holds_open(r"C:\busy\quorveld.exe"), 30),
                        "the program did not open the file")
        self.assertEqual(
            self.run_updater("/quiet", r"/target=C:\busy\quorveld.exe", r"/log=C:\update.log"), 1)
        self.assertIsNone(holder.poll(), "the program holding the file ended early")
        self.assertEqual(self.read(r"C:\busy\quorveld.exe"), b"old")
        self.assertEqual(os.listdir(self.prefix.unix_path(r"C:\busy")), ["quorveld.exe"])
        self.assertEqual(self.log_lines(), INTACT + [r"File to replace: C:\busy\quorveld.exe",
                                                     "Update failed."])

    def test_log_also_with_the_window(self):
        self.place(r"C:\quorvl\quorveld.exe", b"old")
        proc = self.start(r"C:\tools\updater.exe", r"/log=C:\update.log")
        self.driver.wait_window(WINDOW, "#32770", timeout=30)
        lines = self.without_versions(self.wait_for_end_of_run())
        self.exit_updater(proc)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(self.log_lines(), lines)

    def test_bad_switches_touch_nothing(self):
        self.place(r"C:\quorvl\quorveld.exe", b"old")
        for args in (["/quiet", "/silent"], ["/silent", "/quiet"], ["/quiet", "/target="],
                     ["/quiet", r"/log=C:\no\x.log"], ["/quiet", "/target=quorveld.exe"]):
            self.assertEqual(self.run_updater(*args), 4, args)
        self.assertFalse(self.driver.exists(BAD_SWITCH_BOX))
        proc = self.start(r"C:\tools\updater.exe", "/silent")
        text = self.driver.answer(BAD_SWITCH_BOX, "ok", timeout=60)
        self.assertIn("/silent", text)
        self.assertEqual(proc.wait(30), 4)
        self.assertFalse(self.driver.exists(WINDOW))
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), b"old")
        self.assertIsNone(self.autorun())


if __name__ == "__main__":
    unittest.main()
