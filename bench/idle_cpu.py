#!/usr/bin/env python3
"""CPU time of an idle quorveld: no port selected, uploads a day away, for T seconds; printed
per hour of wall time, for quorveld itself and for all of the prefix's Wine processes (the
wineserver carries the 100 ms timer's messages).

    bench/idle_cpu.py [--seconds 60]

Read from /proc/<pid>/stat (user + system time). Uses QUORVEL_WIN_BIN and
QUORVEL_WINE_TEMPLATE like the end-to-end tests."""
import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))

from service_env import ServiceEnv, wait_for  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
# Box polls and uploads both a day away. The first upload of a run is still due two minutes
# after start: keep --seconds below 120 to measure pure idling.
IDLE = {"BoxRate": 1, "UploadRate": 1}


def cpu_seconds(pid):
    """User + system time of a process, or None once it has gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def prefix_processes(prefix_path):
    """{pid: name} of the processes running in this Wine prefix."""
    marker = ("WINEPREFIX=" + prefix_path).encode()
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if marker not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/comm" % entry) as f:
                found[int(entry)] = f.read().strip()
        except OSError:
            continue
    return found


def total_cpu(pids):
    return sum(cpu_seconds(pid) or 0.0 for pid in pids)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=60.0)
    options = parser.parse_args()

    with ServiceEnv(settings=IDLE, display=False) as env:
        service = env.start_service()
        # Let start-up (and its ping) finish before measuring.
        if not wait_for(lambda: env.server.requests, 30):
            raise RuntimeError("quorveld sent no start-up request")
        time.sleep(2)
        processes = prefix_processes(env.prefix.path)
        before_service = cpu_seconds(service.pid)
        before_all = total_cpu(processes)
        started = time.monotonic()
        time.sleep(options.seconds)
        elapsed = time.monotonic() - started
        after_service = cpu_seconds(service.pid)
        after_all = total_cpu(processes)
        if after_service is None:
            raise RuntimeError("quorveld ended during the measurement")

    per_hour = 3600.0 / elapsed
    print("idle for %.1f s (process %d: %s)" % (elapsed, service.pid,
                                                processes.get(service.pid, "?")))
    print("quorveld          %7.3f s CPU  = %7.2f s per hour (%.3f%% of one core)" % (
        after_service - before_service, (after_service - before_service) * per_hour,
        100.0 * (after_service - before_service) / elapsed))
    print("all Wine processes %6.3f s CPU  = %7.2f s per hour (%s)" % (
        after_all - before_all, (after_all - before_all) * per_hour,
        ", ".join(sorted(set(processes.values())))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
