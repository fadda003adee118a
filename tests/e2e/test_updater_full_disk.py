"""A disk that fills up during an unattended update under Wine: a small tmpfs mounted into the
prefix, which needs root. Where it cannot be mounted the module is skipped as a whole, with the
reason, so that the runner can report it as skipped rather than passed."""
import os
import subprocess
import unittest

from test_updater import INTACT
from test_updater_unattended import UnattendedCase


class FullDiskTest(UnattendedCase):
    """The target's folder on a tmpfs with 64 KB left: the new program cannot fit."""

    OLD = b"old program " * (32 * 1024 // 12)

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        self.folder = self.prefix.unix_path(r"C:\quorvl")
        os.makedirs(self.folder)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", self.folder],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            self.skipTest("mount is not allowed here")
        self.addCleanup(self.unmount)
        self.place(r"C:\quorvl\quorveld.exe", self.OLD)
        self.fill_leaving(64 * 1024)

    def unmount(self):
        # The wineserver may still look into the folder: it goes first.
        self.prefix.stop_server()
        subprocess.run(["umount", self.folder], check=True)

    def fill_leaving(self, free):
        filler = os.path.join(self.folder, "filler")
        with open(filler, "wb", buffering=0) as f:
            try:
                while f.write(b"\0" * 4096):
                    pass
            except OSError:
                pass
        with open(filler, "r+b") as f:
            f.truncate(max(0, os.path.getsize(filler) - free))

    def test_update_on_a_full_disk_keeps_the_old_program_whole(self):
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log"), 1)
        self.assertEqual(self.read(r"C:\quorvl\quorveld.exe"), self.OLD)
        self.assertEqual(sorted(os.listdir(self.folder)), ["filler", "quorveld.exe"])
        self.assertEqual(self.log_lines(), INTACT + [r"File to replace: C:\quorvl\quorveld.exe",
                                                     "Update failed."])
        self.assertIsNone(self.autorun())



if __name__ == "__main__":
    unittest.main()
