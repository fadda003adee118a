#!/usr/bin/env python3
"""Runs one scenario file for ctest: run_scenario.py <module>  (e.g. test_upload).

Exits with SKIP_EXIT_CODE, which ctest reports as skipped, when this host cannot run the
build under test (a 32-bit build where only 64-bit programs run), when the build under test is
the 64-bit one and the scenario needs the 32-bit build, or when every test in the file skipped
itself; each reason is printed in one line.

A scenario that needs the 32-bit build by its nature (a 32-bit program facing a 64-bit one, say)
sets a module-level NEEDS_32BIT_BUILD to the reason, in a few words. Every other scenario also
runs against the 64-bit build where the host runs 64-bit programs only."""
import importlib
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from harness import WIN_BIN  # noqa: E402
from winelib import SKIP_EXIT_CODE, program_bits, wine_mode  # noqa: E402


def why_not_run(scenario):
    """None when the scenario can run against the build under test on this host, else why not."""
    program = os.path.join(WIN_BIN, "quorveld.exe")
    if not os.path.exists(program):
        return None  # the scenario's set-up fails with the reason
    return wine_mode().why_not_run(program_bits(program),
                                   getattr(scenario, "NEEDS_32BIT_BUILD", None))


def main(name):
    scenario = importlib.import_module(name)
    reason = why_not_run(scenario)
    if reason:
        print("skipped: " + reason)
        return SKIP_EXIT_CODE
    suite = unittest.defaultTestLoader.loadTestsFromModule(scenario)
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
