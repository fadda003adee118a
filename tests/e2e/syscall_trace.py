"""strace on the service and on its prefix's wineserver, and what the traces say about the order
in which files reach the disk. Under Wine the program writes and flushes (fsync) files itself;
the wineserver renames and removes them."""
import os
import re
import shutil
import subprocess

CALLS = "write,pwrite64,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat"
LINE = re.compile(r"^\d+ +(\d+\.\d+) (\w+)\((.*)$")
FD_PATH = re.compile(r"^\d+<([^>]*)>")
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
FAILED = re.compile(r"\) += -1 ")
# Every call that moves a file toward the disk, with its time and the files it names.
TIMED_CALLS = ("-ttt", "-y", "-e", "trace=" + CALLS)


def unavailable():
    """None when strace can trace here, else why not."""
    if not shutil.which("strace"):
        return "strace is not installed"
    probe = subprocess.run(["strace", "-o", os.devnull, "true"], capture_output=True)
    if probe.returncode != 0:
        return "strace cannot trace here: " + probe.stderr.decode(errors="replace").strip()
    return None


def wineserver_pid(prefix_path):
    """The pid of the wineserver that serves the prefix, or None."""
    wanted = ("WINEPREFIX=" + prefix_path).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                name = f.read().strip()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if name.startswith("wineserver") and wanted in environ:
            return int(pid)
    return None


def strace(output, *options):
    """strace following every child, writing to `output`, with `options`."""
    return ["strace", "-f", "-o", output, *options]


def attach(pid, output):
    """strace -f on a running process; returns once it is attached."""
    tracer = subprocess.Popen(strace(output, *TIMED_CALLS, "-p", str(pid)),
                              stderr=subprocess.PIPE)
    tracer.stderr.readline()  # "Process N attached"
    return tracer


def traced(command, output):
    """The command line that runs `command` under strace -f."""
    return strace(output, *TIMED_CALLS) + command


def killed_at_first_write(command, path, output):
    """The command line that runs `command` and kills the process (SIGKILL) at its first write
    to the file at `path`; `output` then says so (see was_killed)."""
    return strace(output, "-q", "-P", path, "-e", "trace=write,pwrite64",
                  "-e", "inject=write,pwrite64:signal=SIGKILL") + command


def was_killed(output):
    """True when a process traced into `output` was killed by SIGKILL. The exit code does not
    tell: a 64-bit program started through the 32-bit loader is not the traced command."""
    with open(output, errors="replace") as f:
        return "+++ killed by SIGKILL" in f.read()


def events(*traces):
    """(time, call, [file names]) of every call that did not fail, from all traces, in time
    order. Files are named by their last path component."""
    out = []
    for trace in traces:
        with open(trace, errors="replace") as f:
            for line in f:
                m = LINE.match(line)
                if not m or FAILED.search(line):
                    continue
                when, call, args = float(m.group(1)), m.group(2), m.group(3)
                fd = FD_PATH.match(args)
                paths = [fd.group(1)] if fd else QUOTED.findall(args)
                out.append((when, call, [os.path.basename(p) for p in paths]))
    out.sort(key=lambda e: e[0])
    return out


class DurableOrder:
    """Follows the calls and notes every step that reached its name or the next step before
    what it depends on was flushed."""

    def __init__(self, database, cache, trim_list, journal):
        self.database, self.cache, self.trim_list, self.journal = (database, cache, trim_list,
                                                                   journal)
        self.unflushed = set()
        self.journal_steps = 0  # journal replacements since the last database flush or trim
        self.trims = 0
        self.merges = 0
        self.faults = []

    def follow(self, call, files):
        if call in ("write", "pwrite64"):
            self.on_write(files[0])
        elif call in ("fsync", "fdatasync"):
            self.on_flush(files[0])
        elif call.startswith("rename") and len(files) == 2:
            self.on_rename(*files)

    def on_write(self, name):
        if name == self.database and name not in self.unflushed:
            self.merges += 1
            if not self.journal_steps:
                self.faults.append("database written before the journal took its bytes")
        self.unflushed.add(name)

    def on_flush(self, name):
        self.unflushed.discard(name)
        if name == self.database:
            self.journal_steps = 0

    def on_rename(self, source, target):
        if target not in (self.journal, self.cache):
            return  # not one of the service's steps (the wineserver saves the registry too)
        if source in self.unflushed:
            self.faults.append("%s renamed to %s before it was flushed" % (source, target))
        if target == self.journal:
            self.journal_steps += 1
        if (source, target) == (self.trim_list, self.cache):
            self.trims += 1
            if self.database in self.unflushed:
                self.faults.append("cache trimmed before the merged database was flushed")
            if not self.journal_steps:
                self.faults.append("cache trimmed before the journal said the merge was done")
            self.journal_steps = 0
