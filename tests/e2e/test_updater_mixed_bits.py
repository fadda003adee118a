"""The 32-bit updater and a running 64-bit service under Wine. It needs both builds; without the
64-bit one (QUORVEL_WIN64_BIN) the module is skipped as a whole, with the reason, so that the
runner can report it as skipped rather than passed."""
import os
import unittest

from harness import WIN_BIN, WIN64_BIN, program_bits
from test_updater import INTACT, PAYLOADS, RUN_KEY, UpdaterCase, payload

NEEDS_32BIT_BUILD = "the 32-bit updater facing a running 64-bit service"


class MixedWordSizeTest(UpdaterCase):
    def test_32_bit_updater_stops_and_updates_a_running_64_bit_service(self):
        if not WIN64_BIN or program_bits(os.path.join(WIN_BIN, "updater.exe")) != 32:
            self.skipTest("needs the 32-bit updater and the 64-bit build (QUORVEL_WIN64_BIN)")
        # A 32-bit program cannot walk a 64-bit program's modules. A second copy on the disk
        # shows that the running one is updated, not one the search would offer.
        for name in PAYLOADS:
            with open(os.path.join(WIN64_BIN, name), "rb") as f:
                self.place("C:\\quorvl\\" + name, f.read())
        self.assertEqual(program_bits(self.prefix.unix_path(r"C:\quorvl\quorveld.exe")), 64)
        self.place(r"C:\other\quorveld.exe", b"old")
        self.prefix.write_ini("quorveld.INI", {"Options": {
            "ServerDomain": "127.0.0.1", "ServerPort": "9", "ComPorts": "990990990390"}})
        service = self.start(r"C:\quorvl\quorveld.exe")
        self.wait_for_service()
        proc = self.start_updater()
        lines = self.without_versions(self.wait_for_end_of_run())
        self.assertEqual(lines, INTACT + ["quorveld is running.", "Shutting it down.",
                                          "Shutdown complete.",
                                          r"File to replace: C:\quorvl\quorveld.exe",
                                          "Update successful.", "Autorun registry key added."])
        self.assertEqual(service.wait(10), 0)
        # The 32-bit program cannot load the 64-bit libraries, so those are replaced too.
        for name in PAYLOADS:
            self.assertEqual(self.read("C:\\quorvl\\" + name), payload(name), name)
            self.assertEqual(program_bits(self.prefix.unix_path("C:\\quorvl\\" + name)), 32)
        self.assertEqual(self.read(r"C:\other\quorveld.exe"), b"old")
        # A 32-bit program's value lands under WOW6432Node, not in the 64-bit view.
        self.assertEqual(self.autorun(), r"C:\quorvl\quorveld.exe")
        self.assertIsNone(self.prefix.reg_query(RUN_KEY, "QuorVel", bits=64))
        # The updater holds the service's mutex until it ends.
        self.exit_updater(proc)
        self.start(r"C:\quorvl\quorveld.exe")
        self.wait_for_service()



if __name__ == "__main__":
    unittest.main()
