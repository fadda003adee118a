#!/usr/bin/env python3
"""Line-noise soak: boxes that send noise, break lines into slow pieces, fall silent in
mid-line and come back, at random, for --seconds (default 600). Prints the longest time the
site went without a box poll and without an upload, and whether every count the boxes held
reached the server.

    bench/line_noise_soak.py [--seconds 600] [--boxes 3] [--seed 1]

A poll is a serial request received by any box; an upload is an upload request received by
the server. Each box gets one new hourly record at every serial request (never in the middle
of a download). After the soak the boxes are healed and the site is given --drain seconds to
send what is left. Uses QUORVEL_WIN_BIN and QUORVEL_WINE_TEMPLATE like the end-to-end tests."""
import argparse
import datetime
import os
import random
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))

from service_env import BoxSimulator, ServiceEnv, wait_for  # noqa: E402
from boxsim import Record  # noqa: E402  (importable once service_env has set the path)

# A poll every minute; uploads whenever the cache holds anything.
SETTINGS = {"BoxRate": 1440, "UploadRate": 1440}
START = datetime.datetime(2007, 1, 22)


class SoakBox:
    """A simulated box that gains a record at every serial request, and its tally."""

    def __init__(self, index, seed):
        self.serial = "%014d" % (index + 1)
        self.rng = random.Random(seed * 100 + index)
        self.next_hour = 0
        self.held = {}  # (date, hour) -> (count1, count2) of every record the box was given
        self.polls = []  # monotonic times of the serial requests it received
        self.growing = True
        self.sim = BoxSimulator(serial=self.serial, seed=seed * 100 + index,
                                on_event=self.on_event)

    def on_event(self, direction, text, when):
        # On the box's own thread, before it answers: the new record joins this poll.
        if direction != "in" or not text.upper().startswith("SSSN"):
            return
        self.polls.append(when)
        if self.growing:
            moment = START + datetime.timedelta(hours=self.next_hour)
            self.next_hour += 1
            count1, count2 = self.rng.randint(1, 400), self.rng.randint(1, 400)
            self.held[(moment.strftime("%Y%m%d"), moment.hour)] = (count1, count2)
            self.sim.records.append(
                Record(moment.year, moment.month, moment.day, moment.hour, count1, count2))

    def upset(self):
        """One random fault, or a return to health."""
        sim, rng = self.sim, self.rng
        choice = rng.randrange(5)
        if choice == 0:
            sim.noise = rng.choice([0.05, 0.2, 0.4])
        elif choice == 1:
            sim.split_writes, sim.split_delay = rng.randint(2, 6), rng.uniform(0.05, 0.6)
        elif choice == 2:
            cut = bytes(rng.randrange(256) for _ in range(rng.randint(1, 12)))
            sim.cut_off_with = cut.replace(b"\r", b"") or b"\x8f"
        elif choice == 3:
            sim.silent = True
        else:
            self.heal()

    def heal(self):
        sim = self.sim
        sim.noise, sim.split_writes, sim.cut_off_with, sim.silent = 0.0, 1, None, False


def longest_gap(times, start, end):
    marks = [start] + sorted(t for t in times if start <= t <= end) + [end]
    return max(b - a for a, b in zip(marks, marks[1:]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--boxes", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--drain", type=float, default=300)
    args = parser.parse_args()

    boxes = [SoakBox(i, args.seed) for i in range(args.boxes)]
    stop = threading.Event()
    chaos = random.Random(args.seed)

    def upset_at_random():
        while not stop.wait(chaos.uniform(2, 20)):
            chaos.choice(boxes).upset()

    with ServiceEnv(boxes={i: b.sim for i, b in enumerate(boxes)}, settings=SETTINGS,
                    display=False) as env:
        service = env.start_service()
        started = time.monotonic()
        # The first poll is due a minute after start; the soak counts from then.
        wait_for(lambda: any(b.polls for b in boxes), 120)
        soak_start = time.monotonic()
        thread = threading.Thread(target=upset_at_random, daemon=True)
        thread.start()
        time.sleep(args.seconds)
        stop.set()
        thread.join()
        soak_end = time.monotonic()

        uploads = [r.time for r in env.server.requests if r.batch is not None]
        upload_clock = time.time() - time.monotonic()  # server times are wall-clock
        upload_times = [t - upload_clock for t in uploads]
        poll_gap = longest_gap([t for b in boxes for t in b.polls], soak_start, soak_end)
        upload_gap = longest_gap(upload_times, soak_start, soak_end)

        for box in boxes:
            box.growing = False
            box.heal()

        def tally():
            """(records at the server at least once, records sent more than once) per box."""
            sums = {}
            for batch in env.server.batches:
                for hour, (c1, c2) in enumerate(batch.hours):
                    key = (batch.serial, batch.date, hour)
                    old = sums.get(key, (0, 0))
                    sums[key] = (old[0] + c1, old[1] + c2)
            result = {}
            for box in boxes:
                reached = twice = 0
                for (date, hour), held in box.held.items():
                    got = sums.get((box.serial, date, hour), (0, 0))
                    # A record sent again adds its counts once more: at least once means
                    # a whole multiple of what the box held.
                    times = got[0] // held[0] if got[0] % held[0] == 0 else 0
                    if times >= 1 and got[1] == times * held[1]:
                        reached += 1
                        twice += times > 1
                result[box.serial] = (reached, twice)
            return result

        def drained():
            return (all(not b.sim.records for b in boxes)
                    and env.read_local("quorveld.dat") in (b"", None)
                    and all(tally()[b.serial][0] == len(b.held) for b in boxes))

        wait_for(drained, args.drain, interval=2)
        alive = service.poll() is None
        final = tally()

    print("soak: %d boxes, %.0f s of faults (seed %d), service running to the end: %s"
          % (args.boxes, soak_end - soak_start, args.seed, "yes" if alive else "NO"))
    print("longest time without a box poll:  %6.1f s" % poll_gap)
    print("longest time without an upload:   %6.1f s" % upload_gap)
    print("polls: %d, uploads: %d, run time %.0f s"
          % (sum(len(b.polls) for b in boxes), len(uploads), time.monotonic() - started))
    lost = 0
    for box in boxes:
        reached, twice = final[box.serial]
        lost += len(box.held) - reached
        print("box %s: records held %d, at the server %d (%d of them more than once), lost %d"
              % (box.serial, len(box.held), reached, twice, len(box.held) - reached))
    return 0 if alive and lost == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
