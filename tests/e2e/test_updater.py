"""The updater under Wine: installation, update of a running service, the chooser, a corrupt
image, a service that refuses to close, and the search of the fixed drives. Each test runs in
its own prefix without drive Z:, so the only fixed drive is C:."""
import os
import re
import shutil
import subprocess
import unittest
import zlib

from harness import OUTPUT, TEMPLATE, WIN_BIN, WinePrefix, Xvfb, program_bits, wait_for
from guidriver import GuiDriver

WINDOW = "QuorVel updater"
STATUS, LOCATION, EXIT = 1000, 1001, 2
CHOOSER, FOUND_LIST = "Select File to Replace", 1002
RUN_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
PAYLOADS = ("quorveld.exe", "CDRVHF32.DLL", "CDRVDL32.DLL")
INTACT = ["Starting.", "Performing internal integrity check.", "Update files are intact."]
FINAL_LINES = ("Updater is corrupt.  Terminating update process.", "Aborting.", "Update failed.",
               "Autorun registry key added.", "Failed to add autorun registry key.")
VERSION_LINE = re.compile(r"^Version of (file to be replaced|new file): \d+\.\d+\.\d+\.\d+$")


def payload(name):
    with open(os.path.join(WIN_BIN, name), "rb") as f:
        return f.read()


class UpdaterCase(unittest.TestCase):
    """A prefix without Z:, the updater and its tools in C:\\tools, and helpers; no tests."""

    def setUp(self):
        for name in PAYLOADS + ("updater.exe", "guidriver.exe", "fake_service.exe"):
            if not os.path.exists(os.path.join(WIN_BIN, name)):
                self.fail("%s not built in %s" % (name, WIN_BIN))
        self.xvfb = Xvfb()
        self.addCleanup(self.xvfb.stop)
        self.prefix = WinePrefix.clone(TEMPLATE, display=self.xvfb.display, drive_z=False)
        self.addCleanup(self.prefix.remove)
        self.processes = []
        self.prefix.start_server()
        self.addCleanup(self._stop_everything)
        # Programs run by C: paths: without Z: a Unix path has no drive.
        self.tools = self.prefix.unix_path(r"C:\tools")
        os.makedirs(self.tools)
        for name in ("updater.exe", "guidriver.exe", "fake_service.exe"):
            shutil.copy(os.path.join(WIN_BIN, name), self.tools)
        self.driver = GuiDriver(self.prefix, r"C:\tools\guidriver.exe")

    def _stop_everything(self):
        self.prefix.stop_server()
        for proc in self.processes:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()

    # --- helpers ---------------------------------------------------------------------
    def start(self, windows_path, *args):
        proc = self.prefix.start([windows_path] + list(args), cwd=self.prefix.drive_c,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(proc)
        return proc

    def place(self, windows_path, data):
        path = self.prefix.unix_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, windows_path):
        with open(self.prefix.unix_path(windows_path), "rb") as f:
            return f.read()

    def start_fake_service(self, reply, windows_path=r"C:\quorvl\quorveld.exe"):
        with open(os.path.join(self.tools, "fake_service.exe"), "rb") as f:
            self.place(windows_path, f.read())
        proc = self.start(windows_path, str(reply))
        self.wait_for_service()
        return proc

    def wait_for_service(self):
        self.assertTrue(wait_for(lambda: self.driver.exists("Quorvel Service"), 20),
                        "the service window did not appear")

    def status_lines(self):
        return self.driver.get_text(WINDOW, STATUS).split("\r\n")[:-1]

    def wait_for_end_of_run(self, timeout=120):
        def ended():
            lines = self.status_lines()
            return lines if lines and lines[-1] in FINAL_LINES else None
        lines = wait_for(ended, timeout, interval=0.5)
        self.assertTrue(lines, "the run did not end: %r" % self.status_lines())
        return lines

    def start_updater(self, path=r"C:\tools\updater.exe"):
        proc = self.start(path)
        self.driver.wait_window(WINDOW, "#32770", timeout=30)
        return proc

    def screenshot(self, name):
        os.makedirs(OUTPUT, exist_ok=True)
        env = dict(os.environ, DISPLAY=self.xvfb.display)
        subprocess.run(["import", "-window", "root",
                        os.path.join(OUTPUT, "updater_%s.png" % name)], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def exit_updater(self, proc):
        self.driver.click(WINDOW, EXIT)
        proc.wait(20)

    def without_versions(self, lines):
        for line in lines:
            if line.startswith("Version of"):
                self.assertRegex(line, VERSION_LINE)
        return [line for line in lines if not line.startswith("Version of")]

    def updater_bits(self):
        return program_bits(os.path.join(WIN_BIN, "updater.exe"))

    # The autorun value in the updater's own registry view: a 32-bit updater's value lands
    # under WOW6432Node ("wine reg" alone is the 32-bit tool in a prefix with 32-bit support),
    # a 64-bit updater's in the 64-bit view.
    def autorun(self):
        return self.prefix.reg_query(RUN_KEY, "QuorVel", bits=self.updater_bits())

    def set_autorun(self, path):
        self.prefix.reg_add(RUN_KEY, "QuorVel", path, bits=self.updater_bits())


class UpdaterTest(UpdaterCase):
    # --- scenarios -------------------------------------------------------------------
    def run_fresh_installation(self, answer):
        proc = self.start_updater()
        text = self.driver.answer("Service not found", answer, timeout=120)
        self.assertEqual(text, "Unable to find file.\r\nWould you like to install at c:\\quorvl?")
        lines = self.without_versions(self.wait_for_end_of_run())
        self.screenshot("install_" + answer)
        self.assertEqual(self.driver.get_text(WINDOW, LOCATION), "")
        self.exit_updater(proc)
        return lines

    def test_fresh_installation_answered_yes(self):
        lines = self.run_fresh_installation("yes")
        self.assertEqual(lines, INTACT + ["Searching for quorveld.exe...", "Update successful.",
                                          "Autorun registry key added."])
        for name in PAYLOADS:
            self.assertEqual(self.read("C:\\quorvl\\" + name), payload(name), name)
            self.assertEqual(program_bits(self.prefix.unix_path("C:\\quorvl\\" + name)),
                             self.updater_bits())
        self.assertEqual(self.autorun(), r"C:\quorvl\quorveld.exe")

    def test_fresh_installation_answered_no(self):
        lines = self.run_fresh_installation("no")
        self.assertEqual(lines, INTACT + ["Searching for quorveld.exe...", "Aborting."])
        self.assertFalse(os.path.exists(self.prefix.unix_path(r"C:\quorvl")))
        self.assertIsNone(self.autorun())

    def test_update_of_a_running_service_that_agrees_to_close(self):
        # An old copy: the real program with some bytes after it, so a rewrite shows.
        old = payload("quorveld.exe") + b"\0old copy\0" * 8
        self.place(r"C:\quorvl\quorveld.exe", old)
        for name in PAYLOADS[1:]:
            self.place("C:\\quorvl\\" + name, payload(name))
        self.prefix.write_ini("quorveld.INI", {"Options": {
            "ServerDomain": "127.0.0.1", "ServerPort": "9", "ComPorts": "990990990390"}})
        service = self.start(r"C:\quorvl\quorveld.exe")
        self.wait_for_service()
        proc = self.start_updater()
        lines = self.without_versions(self.wait_for_end_of_run())
        self.screenshot("running_service")
        self.assertEqual(lines, INTACT + ["quorveld is running.", "Shutting it down.",
                                          "Shutdown complete.",
                                          r"File to replace: C:\quorvl\quorveld.exe",
                                          "Update successful.", "Autorun registry key added."])
        self.assertEqual(service.wait(10), 0)
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), payload("quorveld.exe"))
        self.assertEqual(self.autorun(), r"C:\quorvl\quorveld.exe")
        self.exit_updater(proc)

    def test_busy_service_is_terminated(self):
        service = self.start_fake_service(reply=0)
        proc = self.start_updater()
        lines = self.without_versions(self.wait_for_end_of_run())
        self.assertEqual(lines, INTACT + ["quorveld is running.", "Shutting it down.",
                                          "Terminating process.",
                                          r"File to replace: C:\quorvl\quorveld.exe",
                                          "Update successful.", "Autorun registry key added."])
        # The loader passes on the low byte of the Windows exit code 666.
        self.assertEqual(service.wait(10), 666 & 0xFF)
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), payload("quorveld.exe"))
        self.exit_updater(proc)

    def test_corrupt_check_line_stops_before_touching_anything(self):
        service = self.start_fake_service(reply=1, windows_path=r"C:\apps\quorveld.exe")
        shutil.copy(os.path.join(self.tools, "updater.exe"), os.path.join(self.tools, "bad.exe"))
        with open(os.path.join(self.tools, "bad.crc"), "wb") as f:
            f.write(b"00000000 ?CRC32*CDRVHF32.DLL\r\n")
        self.driver.patch_resource(r"C:\tools\bad.exe", "CRC32", 131, r"C:\tools\bad.crc")
        proc = self.start_updater(r"C:\tools\bad.exe")
        lines = self.wait_for_end_of_run()
        self.screenshot("corrupt")
        crc = "%08x" % (zlib.crc32(payload("CDRVHF32.DLL")) & 0xFFFFFFFF)
        self.assertEqual(lines, ["Starting.", "Performing internal integrity check.",
                                 "CDRVHF32.EXE CRC mismatch: %s:00000000" % crc,
                                 "Updater is corrupt.  Terminating update process."])
        self.assertIsNone(service.poll(), "the service was stopped")
        self.assertFalse(os.path.exists(self.prefix.unix_path(r"C:\quorvl")))
        self.assertIsNone(self.autorun())
        self.exit_updater(proc)

    def test_chooser_lists_the_last_found_first(self):
        # Different depths make the breadth-first order independent of the listing order.
        copies = [r"C:\q1\quorveld.exe", r"C:\q2\deep\quorveld.exe", r"C:\q3\d\e\quorveld.exe"]
        for path in copies:
            self.place(path, b"old")
        proc = self.start_updater()
        self.driver.wait_window(CHOOSER, "#32770", timeout=120)
        self.assertEqual(self.driver.list_items(CHOOSER, FOUND_LIST),
                         [(path, False) for path in reversed(copies)])
        self.screenshot("chooser")
        self.driver.click(CHOOSER, EXIT, post=True)
        self.driver.answer("Service not found", "no", timeout=30)
        lines = self.wait_for_end_of_run()
        self.assertEqual(lines[-1], "Aborting.")
        for path in copies:
            self.assertEqual(self.read(path), b"old")

        self.exit_updater(proc)

    def test_chosen_copy_is_updated(self):
        copies = [r"C:\q1\quorveld.exe", r"C:\q2\deep\quorveld.exe"]
        for path in copies:
            self.place(path, b"old")
        proc = self.start_updater()
        self.driver.wait_window(CHOOSER, "#32770", timeout=120)
        self.driver.select(CHOOSER, FOUND_LIST, 1)
        self.driver.click(CHOOSER, 1)
        lines = self.without_versions(self.wait_for_end_of_run())
        self.assertEqual(lines, INTACT + ["Searching for quorveld.exe...",
                                          r"File to replace: C:\q1\quorveld.exe",
                                          "Update successful.", "Autorun registry key added."])
        self.assertEqual(self.read(copies[0]), payload("quorveld.exe"))
        self.assertEqual(self.read(copies[1]), b"old")
        self.exit_updater(proc)

    def test_search_skips_hidden_system_and_dot_folders(self):
        self.place(r"C:\visible\quorveld.exe", b"old")
        for folder in (r"C:\.dot", r"C:\hidden", r"C:\system"):
            self.place(folder + r"\quorveld.exe", b"old")
        self.prefix.wine(["attrib", "+h", r"C:\hidden"], check=True)
        self.prefix.wine(["attrib", "+s", r"C:\system"], check=True)
        proc = self.start_updater()
        lines = self.without_versions(self.wait_for_end_of_run())
        self.screenshot("search")
        self.assertEqual(lines, INTACT + ["Searching for quorveld.exe...",
                                          r"File to replace: C:\visible\quorveld.exe",
                                          "Update successful.", "Autorun registry key added."])
        self.assertEqual(self.read(r"C:\visible\quorveld.exe"), payload("quorveld.exe"))
        for folder in (r"C:\.dot", r"C:\hidden", r"C:\system"):
            self.assertEqual(self.read(folder + r"\quorveld.exe"), b"old")
        self.exit_updater(proc)


if __name__ == "__main__":
    unittest.main()
