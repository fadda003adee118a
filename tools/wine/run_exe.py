#!/usr/bin/env python3
"""Runs one Windows console program in a throwaway clone of the template prefix and passes
its output and exit code through: run_exe.py <template> <program.exe> [args...]

Where this host cannot run the program's word size it says why and exits with
SKIP_EXIT_CODE, which ctest reports as skipped."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winelib import SKIP_EXIT_CODE, WinePrefix, Xvfb, program_bits, wine_command, wine_mode  # noqa: E402


def main():
    template, exe, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    if not wine_mode().can_run(program_bits(exe)):
        print("skipped: %s is a 32-bit program; %s" % (os.path.basename(exe), wine_mode().reason))
        return SKIP_EXIT_CODE
    xvfb = Xvfb()
    prefix = WinePrefix.clone(template, display=xvfb.display)
    try:
        prefix.start_server()
        result = subprocess.run(wine_command() + [exe] + args, env=prefix.env,
                                cwd=os.path.dirname(exe))
        return result.returncode
    finally:
        prefix.stop_server()
        xvfb.stop()
        prefix.remove()


sys.exit(main())
