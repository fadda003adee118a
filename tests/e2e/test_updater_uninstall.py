"""The entry in the list of installed programs and /uninstall under Wine, as a management tool
uses them: the entry after a fresh /quiet installation and after an update of an older one, its
QuietUninstallString run as written from another folder once the release is gone (with the
service running and records waiting in the cache), and /uninstall with nothing installed."""
import os
import re
import shutil
import subprocess
import unittest

from harness import WIN_BIN, wait_for
from test_updater import PAYLOADS, RUN_KEY, payload
from test_updater_unattended import UnattendedCase

UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
RELEASE = r"C:\users\Public\Downloads\quorvel-release"
UNINSTALLER = r"C:\quorvl\quorvel-uninstall.exe"
SERVICE_INI = {"Options": {"ServerDomain": "127.0.0.1", "ServerPort": "9",
                           "ComPorts": "990990990390"}}
RECORDS = (b"55555555555555,20070122,13,00012,00034\n"
           b"55555555555555,20070123,13,00001,00002\n")
VERSION = re.compile(r"Version of new file: (\d+\.\d+\.\d+\.\d+)\r\n")


class UninstallTest(UnattendedCase):
    def entry(self, bits=None):
        """The entry's values as a program of that word size sees them ({} when there is none);
        DWORDs as numbers."""
        view = ["/reg:%d" % (bits or self.updater_bits())]
        out = self.prefix.wine(["reg", "query", UNINSTALL_KEY] + view,
                               stdout=subprocess.PIPE).stdout.decode(errors="replace")
        values = {}
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                data = parts[2] if len(parts) == 3 else ""
                values[parts[0]] = int(data, 16) if parts[1] == "REG_DWORD" else data
        return values

    def other_bits(self):
        return 64 if self.updater_bits() == 32 else 32

    def installed_version(self):
        with open(self.prefix.unix_path(r"C:\update.log"), "rb") as f:
            return VERSION.findall(f.read().decode())[-1]

    def assert_entry(self):
        updater_size = os.path.getsize(os.path.join(WIN_BIN, "updater.exe"))
        size = sum(len(payload(name)) for name in PAYLOADS) + updater_size
        command = '"%s" /uninstall "/target=C:\\quorvl\\quorveld.exe"' % UNINSTALLER
        self.assertEqual(self.entry(), {
            "DisplayName": "Quorvel client",
            "DisplayVersion": self.installed_version(),
            # The company name of the program's version information.
            "Publisher": "Quorvel",
            "InstallLocation": r"C:\quorvl",
            "DisplayIcon": r"C:\quorvl\quorveld.exe",
            "EstimatedSize": (size + 1023) // 1024,
            "NoModify": 1,
            "NoRepair": 1,
            "UninstallString": command,
            "QuietUninstallString": command + " /quiet",
        })
        self.assertEqual(self.entry(self.other_bits()), {})
        self.assertEqual(os.path.getsize(self.prefix.unix_path(UNINSTALLER)), updater_size)

    def run_as_written(self, command_line):
        """Runs the command line from a batch file in another folder, as a management tool
        gives it to the command interpreter; gives its exit code."""
        self.place(r"C:\users\Public\uninstall.bat",
                   ("@cd /d C:\\users\\Public\r\n@%s\r\n@exit /b %%errorlevel%%\r\n"
                    % command_line).encode())
        proc = self.start("cmd", "/c", r"C:\users\Public\uninstall.bat")
        return proc.wait(180)

    def drive_c_files(self):
        """Every file and folder on C: outside the Windows folder."""
        root = self.prefix.drive_c
        found = set()
        for folder, subfolders, files in os.walk(root):
            if folder == root:
                subfolders.remove("windows")
            for name in subfolders + files:
                found.add(os.path.relpath(os.path.join(folder, name), root))
        return found

    # --- scenarios -------------------------------------------------------------------
    def test_a_fresh_installation_and_an_update_write_the_entry(self):
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log"), 0)
        self.assert_entry()
        self.assertEqual(self.installed_version(), self.entry()["DisplayVersion"])

        self.prefix.wine(["reg", "delete", UNINSTALL_KEY, "/f",
                          "/reg:%d" % self.updater_bits()])
        os.remove(self.prefix.unix_path(UNINSTALLER))
        for name in PAYLOADS:
            self.place("C:\\quorvl\\" + name, b"old")
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log"), 0)
        self.assertEqual(self.log_lines()[-2:], [
            "Update successful.", "Autorun registry key added."])
        self.assert_entry()

    def test_the_quiet_uninstall_string_removes_a_running_installation_and_keeps_its_data(self):
        with open(os.path.join(WIN_BIN, "updater.exe"), "rb") as f:
            self.place(RELEASE + r"\updater.exe", f.read())
        proc = self.start(RELEASE + r"\updater.exe", "/quiet", r"/log=C:\update.log")
        self.assertEqual(proc.wait(180), 0)
        shutil.rmtree(self.prefix.unix_path(RELEASE))
        self.place(r"C:\quorvl\quorveld.dat", RECORDS)
        self.prefix.write_ini("quorveld.INI", SERVICE_INI)
        service = self.start(r"C:\quorvl\quorveld.exe")
        self.wait_for_service()

        command = self.entry()["QuietUninstallString"]
        self.assertEqual(self.run_as_written(command), 0)
        self.assertEqual(service.wait(20), 0)
        self.assertFalse(self.driver.exists("Quorvel Service"))
        for bits in (32, 64):
            self.assertIsNone(self.prefix.reg_query(RUN_KEY, "QuorVel", bits=bits), bits)
            self.assertEqual(self.entry(bits), {}, bits)
        left = sorted(os.listdir(self.prefix.unix_path(r"C:\quorvl")))
        self.assertNotIn("quorveld.exe", left)
        self.assertEqual([name for name in left if name.lower().endswith((".exe", ".dll"))], [])
        self.assertEqual(self.read(r"C:\quorvl\quorveld.dat"), RECORDS)

        # The next run finds nothing and changes nothing.
        before = self.drive_c_files()
        self.assertEqual(self.run_updater("/uninstall", "/quiet"), 3)
        self.assertEqual(self.drive_c_files(), before)

    def test_the_uninstall_string_shows_the_window_and_leaves_no_folder(self):
        self.assertEqual(self.run_updater("/quiet"), 0)
        proc = self.start(UNINSTALLER, "/uninstall")
        self.driver.wait_window("QuorVel updater", "#32770", timeout=30)
        self.assertTrue(wait_for(
            lambda: self.status_lines()[-1:] == ["Uninstall successful."], 60),
            self.status_lines())
        self.exit_updater(proc)
        self.assertEqual(proc.returncode, 0)
        self.assertFalse(os.path.exists(self.prefix.unix_path(r"C:\quorvl")))

    def test_the_log_names_what_stays(self):
        target = r"C:\Program Files\Quorvel\quorveld.exe"
        self.assertEqual(self.run_updater("/quiet", "/target=" + target), 0)
        self.place(r"C:\Program Files\Quorvel\quorveld.dat", RECORDS)
        self.prefix.write_ini("quorveld.INI", {"Options": {"LocalDir": r"C:\counts"}})
        self.assertEqual(self.run_updater("/uninstall", "/quiet", r"/log=C:\update.log"), 0)
        self.assertEqual(self.log_lines(), [
            "Starting uninstall.", "Installation: " + target, "Autorun registry key removed.",
            "Program and libraries removed.", r"Kept: C:\Program Files\Quorvel\quorveld.dat",
            r"Kept: the log and counts cache in C:\counts", "Uninstall entry removed.",
            "Uninstall successful."])
        self.assertEqual(os.listdir(self.prefix.unix_path(r"C:\Program Files\Quorvel")),
                         ["quorveld.dat"])

    def test_with_nothing_installed_uninstall_ends_with_3_and_changes_nothing(self):
        before = self.drive_c_files()
        self.assertEqual(self.run_updater("/uninstall", "/quiet", r"/log=C:\update.log"), 3)
        self.assertEqual(self.log_lines(), ["Starting uninstall.", "Nothing installed."])
        self.assertEqual(self.drive_c_files(), before | {"update.log"})
        self.assertIsNone(self.autorun())
        self.assertEqual(self.entry(), {})


if __name__ == "__main__":
    unittest.main()
