#!/usr/bin/env python3
"""Runs one Windows console program in a throwaway clone of the template prefix and passes
its output and exit code through: run_exe.py <template> <program.exe> [args...]"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winelib import WinePrefix, Xvfb  # noqa: E402


def main():
    template, exe, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    xvfb = Xvfb()
    prefix = WinePrefix.clone(template, display=xvfb.display)
    try:
        prefix.start_server()
        result = subprocess.run(["wine", exe] + args, env=prefix.env, cwd=os.path.dirname(exe))
        return result.returncode
    finally:
        prefix.stop_server()
        xvfb.stop()
        prefix.remove()


sys.exit(main())
