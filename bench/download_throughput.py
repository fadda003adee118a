#!/usr/bin/env python3
"""Download rate of one box: records per second from the box's receipt of SSDD to its
end-of-data COOL, by the box's own transcript times, against the protocol's ceiling of ten
lines a second (one received line per 100 ms tick).

    bench/download_throughput.py [--records 300] [--runs 1]

Uses QUORVEL_WIN_BIN and QUORVEL_WINE_TEMPLATE like the end-to-end tests."""
import argparse
import datetime
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))

from service_env import (POLL_CONTINUOUSLY, BoxSimulator, ServiceEnv,  # noqa: E402
                         make_records, wait_for)

CEILING = 10.0  # lines a second: the service takes one received line per 100 ms tick


def records(count):
    start = datetime.datetime(2007, 1, 22)
    entries = []
    for k in range(count):
        moment = start + datetime.timedelta(hours=k)
        entries.append((moment.date(), moment.hour, k % 500, (3 * k) % 500))
    return make_records(entries)


def event_time(transcript, direction, text, after=0.0):
    return next(t for d, line, t in transcript if d == direction and line == text and t >= after)


def one_run(count):
    box = BoxSimulator(serial="0123456789ABCD", records=records(count))
    with ServiceEnv(boxes={0: box}, settings=POLL_CONTINUOUSLY, display=False) as env:
        env.start_service()
        if not wait_for(lambda: box.cleared, timeout=count / 2 + 120):
            raise RuntimeError("the box was not cleared; log:\n" + env.log_text()[-2000:])
        transcript = list(box.transcript)
        cached = len((env.read_local("quorveld.dat") or b"").splitlines())
    started = event_time(transcript, "in", "SSDD")
    ended = event_time(transcript, "out", "COOL", after=started)
    if cached != count:
        raise RuntimeError("%d records cached of %d" % (cached, count))
    return ended - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=300)
    parser.add_argument("--runs", type=int, default=1)
    options = parser.parse_args()

    print("records  seconds  records/s  of ceiling (%.0f/s)" % CEILING)
    for _ in range(options.runs):
        seconds = one_run(options.records)
        rate = options.records / seconds
        print("%7d  %7.2f  %9.2f  %5.1f%%" % (options.records, seconds, rate,
                                               100.0 * rate / CEILING), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
