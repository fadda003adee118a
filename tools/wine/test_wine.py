"""How Wine is called on this host: the probe of the 32-bit loader and the mode it gives."""
import os
import stat
import tempfile
import unittest

from winelib import CHOOSE_64_ONLY, WINE64_LOADER, WinePrefix, decide_mode, probe_32bit_loader


def never_asked():
    raise AssertionError("the probe ran although the mode was chosen")


class ModeTest(unittest.TestCase):
    def test_a_host_whose_32_bit_loader_runs_uses_wine_for_both_word_sizes(self):
        mode = decide_mode({}, lambda: None)
        self.assertTrue(mode.can_run(32) and mode.can_run(64))
        self.assertEqual(mode.command(), ["wine"])
        self.assertEqual(mode.environment(), {})
        self.assertIn("runs 32-bit programs", mode.describe())

    def test_a_host_that_cannot_calls_the_64_bit_loader_and_says_why(self):
        mode = decide_mode({}, lambda: "this host cannot run 32-bit programs")
        self.assertFalse(mode.can_run(32))
        self.assertTrue(mode.can_run(64))
        self.assertEqual(mode.command(), [WINE64_LOADER])
        self.assertEqual(mode.environment(), {"WINELOADER": WINE64_LOADER})
        self.assertEqual(mode.describe(), "wine mode: this host cannot run 32-bit programs: the "
                         "64-bit build is used; the tests of the 32-bit build, and the scenarios "
                         "that need it, are skipped")
        self.assertNotEqual(mode.name, decide_mode({}, lambda: None).name)

    def test_the_variable_chooses_64_bit_only_without_probing(self):
        for value in ("1", "yes"):
            mode = decide_mode({CHOOSE_64_ONLY: value}, never_asked)
            self.assertFalse(mode.can_run(32))
            self.assertIn(CHOOSE_64_ONLY, mode.describe())
        for value in ("", "0"):
            self.assertTrue(decide_mode({CHOOSE_64_ONLY: value}, lambda: None).runs_32bit)

    def test_a_scenario_runs_against_either_build_unless_it_needs_the_32_bit_one(self):
        both = decide_mode({}, lambda: None)
        only64 = decide_mode({}, lambda: "this host cannot run 32-bit programs")
        for mode in (both, only64):
            self.assertIsNone(mode.why_not_run(64))
            self.assertEqual(mode.why_not_run(64, "a 32-bit updater facing a 64-bit service"),
                             "needs the 32-bit build: a 32-bit updater facing a 64-bit service")
        self.assertIsNone(both.why_not_run(32, "a 32-bit updater facing a 64-bit service"))
        self.assertEqual(only64.why_not_run(32), "the build under test is 32-bit; "
                         "this host cannot run 32-bit programs")


class ProbeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def loader(self, content):
        path = os.path.join(self.dir.name, "wine")
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, stat.S_IRWXU)
        return path

    def test_a_loader_that_runs(self):
        self.assertIsNone(probe_32bit_loader(self.loader(b"#!/bin/sh\nexit 0\n")))

    def test_a_binary_the_kernel_cannot_execute(self):
        # An ELF header of a machine no host runs: the kernel answers "Exec format error".
        elf = b"\x7fELF\x01\x01\x01" + b"\0" * 9 + b"\x02\x00\xff\xff" + b"\0" * 40
        self.assertEqual(probe_32bit_loader(self.loader(elf)), "this host cannot run 32-bit programs")

    def test_a_loader_run_through_a_shell_that_could_not_execute_it(self):
        self.assertEqual(probe_32bit_loader(self.loader(b"#!/bin/sh\nexit 126\n")),
                         "this host cannot run 32-bit programs")

    def test_a_missing_or_failing_loader(self):
        self.assertEqual(probe_32bit_loader(os.path.join(self.dir.name, "none")),
                         "32-bit Wine is not installed")
        self.assertIn("exit code 3", probe_32bit_loader(self.loader(b"#!/bin/sh\nexit 3\n")))


class TemplateModeTest(unittest.TestCase):
    def test_a_template_of_the_other_mode_or_of_no_mode_is_refused(self):
        with tempfile.TemporaryDirectory() as template:
            with self.assertRaisesRegex(RuntimeError, "make it again"):
                WinePrefix.clone(template)
            with open(os.path.join(template, "quorvel-wine-mode"), "w") as f:
                f.write("some-other-mode\n")
            with self.assertRaisesRegex(RuntimeError, "made in mode some-other-mode"):
                WinePrefix.clone(template)


if __name__ == "__main__":
    unittest.main()
