#!/usr/bin/env python3
"""Runs one scenario file for ctest: run_scenario.py <module>  (e.g. test_upload).

Exits with SKIP_EXIT_CODE, which ctest reports as skipped, when this host cannot run the
build under test (a 32-bit build where only 64-bit programs run) or when every test in the
file skipped itself; each reason is printed in one line."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from harness import WIN_BIN  # noqa: E402
from winelib import SKIP_EXIT_CODE, program_bits, wine_mode  # noqa: E402


def build_runs_here():
    """None when the programs under test can run on this host, else why not."""
    program = os.path.join(WIN_BIN, "quorveld.exe")
    if os.path.exists(program) and not wine_mode().can_run(program_bits(program)):
        return "the build under test is 32-bit; " + wine_mode().reason
    return None


def main(module):
    reason = build_runs_here()
    if reason:
        print("skipped: " + reason)
        return SKIP_EXIT_CODE
    suite = unittest.defaultTestLoader.loadTestsFromName(module)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    for test, why in result.skipped:
        print("skipped: %s: %s" % (test.id(), why))
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        return SKIP_EXIT_CODE
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
