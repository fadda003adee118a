#!/usr/bin/env python3
"""Link launcher for the shipped files: split_debug.py <debug folder> <link command...>

Runs the link, then moves the file's debug information into <debug folder>/<name>.debug
(found again through the file's debug link, for reading crash addresses) and strips the
file itself."""
import os
import subprocess
import sys


def output_of(command):
    return command[command.index("-o") + 1]


def binutil(compiler, tool):
    """The cross binutils beside the compiler: .../i686-w64-mingw32-g++ -> ...-objcopy."""
    head, name = os.path.split(compiler)
    return os.path.join(head, name[:name.rindex("-") + 1] + tool)


def main():
    debug_dir, command = sys.argv[1], sys.argv[2:]
    linked = subprocess.run(command)
    if linked.returncode != 0:
        return linked.returncode
    target = output_of(command)
    objcopy = binutil(command[0], "objcopy")
    os.makedirs(debug_dir, exist_ok=True)
    debug_file = os.path.join(debug_dir, os.path.basename(target) + ".debug")
    # objcopy stamps the PE header with the time unless told a fixed one; 0, as the link has.
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    subprocess.run([objcopy, "--only-keep-debug", target, debug_file], check=True, env=env)
    subprocess.run([objcopy, "--strip-all", "--add-gnu-debuglink=" + debug_file, target],
                   check=True, env=env)
    return 0


sys.exit(main())
