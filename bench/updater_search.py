#!/usr/bin/env python3
"""Search rate of the updater: directories per second over a generated tree on C:.

    bench/updater_search.py [--width 8] [--depth 4]

Builds width**1 + ... + width**depth folders under C:\\bench in a prefix without drive Z:,
runs updater.exe until it asks to install (nothing found), and prints the figures. Uses
QUORVEL_WIN_BIN and QUORVEL_WINE_TEMPLATE like the end-to-end tests."""
import argparse
import os
import shutil
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tools", "wine"), os.path.join(ROOT, "tools", "guidriver")]

from winelib import WinePrefix, Xvfb  # noqa: E402
from guidriver import GuiDriver  # noqa: E402

WIN_BIN = os.environ.get("QUORVEL_WIN_BIN", os.path.join(ROOT, "build", "win32", "bin"))
TEMPLATE = os.environ.get("QUORVEL_WINE_TEMPLATE",
                          os.path.join(ROOT, "build", "native", "wine-template"))


def make_tree(base, width, depth):
    made = 0
    level = [base]
    for _ in range(depth):
        next_level = []
        for parent in level:
            for i in range(width):
                path = os.path.join(parent, "d%d" % i)
                os.makedirs(path)
                next_level.append(path)
                made += 1
        level = next_level
    return made


def searchable_folders(drive_c):
    """Folders the search enters: every folder whose name does not begin with a full stop."""
    count = 1
    for _, dirs, _ in os.walk(drive_c):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        count += len(dirs)
    return count


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--width", type=int, default=8)
    parser.add_argument("--depth", type=int, default=4)
    options = parser.parse_args()

    xvfb = Xvfb()
    prefix = WinePrefix.clone(TEMPLATE, display=xvfb.display, drive_z=False)
    try:
        prefix.start_server()
        tools = prefix.unix_path(r"C:\tools")
        os.makedirs(tools)
        for name in ("updater.exe", "guidriver.exe"):
            shutil.copy(os.path.join(WIN_BIN, name), tools)
        generated = make_tree(prefix.unix_path(r"C:\bench"), options.width, options.depth)
        folders = searchable_folders(prefix.drive_c)
        driver = GuiDriver(prefix, r"C:\tools\guidriver.exe")
        driver.exists("QuorVel updater")  # Wine's desktop up before the clock starts

        start = time.monotonic()
        prefix.start([r"C:\tools\updater.exe"], cwd=prefix.drive_c)
        driver.box_text("Service not found", timeout=600)
        elapsed = time.monotonic() - start
        driver.answer("Service not found", "no")

        print("generated folders:   %d" % generated)
        print("folders on C:        %d" % folders)
        print("search (with start): %.2f s" % elapsed)
        print("rate:                %.0f folders/s" % (folders / elapsed))
    finally:
        prefix.stop_server()
        xvfb.stop()
        prefix.remove()


main()
