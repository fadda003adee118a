#!/usr/bin/env python3
"""Two release builds give byte-identical files: reproducible.py <reference dist> <work folder>

The reference is a release made by scripts/release from this tree (the test before this one).
This test copies the sources to another path, of another length, and builds the release there
into other build and dist folders, minutes later: link times, build paths and folder names
would all show in the files, so equal SHA256SUMS (the zip holds the shipped files byte for
byte, the debug files are listed too) show that neither leaks in. Two builds are the least
that shows it; both are needed anyway, the first for the package checks.

When the reference was signed, the environment names the same certificate
(QUORVEL_SIGN_PFX, QUORVEL_SIGN_PASSWORD_FILE), and both releases take their signing time from
the same commit: the signatures must come out the same too.
"""
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def copy_sources(dest):
    """The tracked files of the tree (with any changes in the worktree), nothing built."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=ROOT, check=True, stdout=subprocess.PIPE).stdout
    for name in filter(None, listed.decode().split("\0")):
        if name.startswith(("build/", "dist/")) or not os.path.exists(os.path.join(ROOT, name)):
            continue
        target = os.path.join(dest, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(ROOT, name), target)


def commit_time():
    """The signing time the reference took: the copy of the sources has no history."""
    return subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=ROOT, check=True,
                          stdout=subprocess.PIPE, text=True).stdout.strip()


def read(path):
    with open(path) as f:
        return f.read()


def main():
    reference, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    sources = os.path.join(work, "another-checkout-of-the-sources")
    copy_sources(sources)
    env = dict(os.environ, RELEASE_BUILD=os.path.join(work, "build-elsewhere"),
               DIST=os.path.join(work, "dist-elsewhere"))
    env.setdefault("SOURCE_DATE_EPOCH", commit_time())
    subprocess.run([os.path.join(sources, "scripts", "release")], env=env, check=True)
    first = read(os.path.join(reference, "SHA256SUMS"))
    second = read(os.path.join(env["DIST"], "SHA256SUMS"))
    if first != second:
        print("the two release builds differ:\n--- %s\n%s--- %s\n%s"
              % (reference, first, env["DIST"], second))
        return 1
    print("identical release builds:\n" + second)
    shutil.rmtree(work)
    return 0


sys.exit(main())
