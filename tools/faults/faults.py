#!/usr/bin/env python3
"""Fault injection against the real quorveld.exe under Wine.

Several simulated boxes and the stub collection server make a site. The service is driven in
rounds (download rounds and upload rounds, since it reads its settings only at start-up); new
hourly records are added to the boxes between rounds, and faults are injected at random but
reproducible moments: the service killed hard, the server down, slow, failing or answering
garbage, boxes going silent, noisy, slow to write, sending bad checksums, HASH and BITEME,
and the cache folder's disk full. At the end the site drains without faults and every record
the boxes ever held is reconciled against what the server received and what is still cached.
The site also has the older counting application's database; after the drain it must hold
every accepted record exactly once, hour by hour.

    python3 tools/faults/faults.py --seed 7 --faults 20 --boxes 5

Exits 0 when no record was lost or corrupted, the cache never held a damaged line and the
database counted no hour twice or short (duplicates at the server are allowed and counted),
1 otherwise, 2 when the drain did not
finish. Disk-full faults need root (a tmpfs is mounted over the cache folder); without it
they are skipped with a note.
"""
import argparse
import collections
import dataclasses
import datetime
import os
import random
import re
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))

import service_env  # noqa: E402
from service_env import (POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, BoxSimulator,  # noqa: E402
                         ServiceEnv, WinePrefix, make_records, wait_for)
import serverstub  # noqa: E402
from serverstub import GARBAGE, SERVER_ERROR, Reply  # noqa: E402

LOCAL_DIR = r"C:\quorvl\data"
LEGACY_DB = r"C:\rcs\counts.db"
LEGACY_HEADER_REST = b"RCS-COUNTS-V1\x07"  # the 14 header bytes that are not the count
DISK_SIZE = 32 * 1024 * 1024
PAGE = 4096
CLIENT_TIMEOUT = 30  # seconds the service waits for the server before giving up
CACHE_LINE = re.compile(rb"[0-9a-f]{14},[0-9]{8},[0-9]{2,3},[0-9]{5},[0-9]{5}")

POLL_FAULTS = ("kill_download", "kill_random", "box_silent", "box_noise", "box_split",
               "box_bad_checksum", "box_hash", "box_biteme", "disk_full")
UPLOAD_FAULTS = ("kill_upload", "kill_trim", "kill_random", "server_down", "server_slow",
                 "server_500", "server_garbage", "disk_full")
KILLS = ("kill_download", "kill_upload", "kill_trim", "kill_random")
ALL_FAULTS = tuple(dict.fromkeys(POLL_FAULTS + UPLOAD_FAULTS))


# A service killed while the stub is still answering leaves it a broken connection; that is
# the fault working as intended, not worth a traceback.
serverstub._HttpServer.handle_error = lambda self, request, client_address: None


def track_replies(server):
    """Notes on each request the reply the stub gave it, so that only batches the server
    accepted count as delivered."""
    take = server._take_reply

    def taking(path):
        reply = take(path)
        request = next(r for r in reversed(server.requests_since(0)) if r.path == path)
        request.reply = reply
        return reply
    server._take_reply = taking


def accepted(request):
    """True when the server took the request's batch: it answered 200, or it answered
    something that is not HTTP at all, which the client under Wine reads as 200."""
    reply = getattr(request, "reply", None)
    if reply is None:
        return False
    return reply.raw is not None or (reply.status == 200 and str(reply.result) == "200")


def make_legacy_database(env):
    path = env.prefix.unix_path(LEGACY_DB)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(struct.pack("<H", 0) + LEGACY_HEADER_REST)
    env.prefix.write_ini("rcs.ini", {"Preferences": {"Database": LEGACY_DB}})


def legacy_totals(data):
    """{(yyyymmdd, hour): total} summed over the records the header counts."""
    count = struct.unpack_from("<H", data)[0]
    totals = collections.Counter()
    for k in range(count):
        total, month, day, year, hour = struct.unpack_from("<HBBHH", data, 16 + 8 * k)
        totals[((year + 2000 if year < 1990 else year) * 10000 + month * 100 + day, hour)] += total
    return {key: total & 0xFFFF for key, total in totals.items()}


def compare_legacy(data, generated, delivered):
    """(hours counted twice or more, hours short, header changed) of the database against
    every delivered record added once; all boxes' records of one hour share its record."""
    expected = collections.Counter()
    for key in delivered:
        serial, date, hour = key
        expected[(date, hour)] += sum(generated[key])
    expected = {k: v & 0xFFFF for k, v in expected.items() if v & 0xFFFF}
    actual = {k: v for k, v in legacy_totals(data).items() if v}
    doubled, short = [], []
    for key in sorted(set(expected) | set(actual)):
        excess = (actual.get(key, 0) - expected.get(key, 0)) & 0xFFFF
        if excess:
            (doubled if excess < 0x8000 else short).append((key, actual.get(key, 0),
                                                            expected.get(key, 0)))
    return doubled, short, data[2:16] != LEGACY_HEADER_REST


def say(text):
    print(time.strftime("%H:%M:%S"), text, flush=True)


def box_serials(count, rng):
    """Distinct serials that stay distinct when the scrambled form turns hex letters into
    digits (a as 9, b as 0, ...)."""
    serials, seen = [], set()
    while len(serials) < count:
        serial = "".join(rng.choice("0123456789ABCDEF") for _ in range(14))
        image = scrambled_image(serial)
        if image not in seen:
            seen.add(image)
            serials.append(serial)
    return serials


def scrambled_image(serial):
    """The serial as the server reads it back from a scrambled upload."""
    return "".join(str((ord(c) - ord("0")) % 10) for c in serial.lower())


class Disk:
    """A small tmpfs over the cache folder, so that the disk can be filled up on purpose.
    Mounting needs root; without it the disk-full fault is skipped."""

    def __init__(self, path):
        self.path = path
        self.filler = os.path.join(path, "filler.bin")
        os.makedirs(path, exist_ok=True)
        try:
            result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % DISK_SIZE,
                                     "tmpfs", path], stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT)
        except OSError as e:  # no mount program at all
            self.mounted, self.reason = False, str(e)
            return
        self.mounted = result.returncode == 0
        self.reason = result.stdout.decode(errors="replace").strip()

    def fill(self, pages_left):
        """Fills the disk so that only `pages_left` pages stay free."""
        st = os.statvfs(self.path)
        free = st.f_bavail * st.f_frsize
        left = max(0, free - pages_left * PAGE)
        chunk = b"\0" * (1 << 20)
        with open(self.filler, "ab") as f:  # tmpfs takes pages when written, not when sized
            while left > 0:
                left -= f.write(chunk[:min(left, len(chunk))])

    def empty(self):
        if os.path.exists(self.filler):
            os.unlink(self.filler)

    def release(self):
        if self.mounted:
            subprocess.run(["umount", "-l", self.path])
            self.mounted = False


class Site:
    """The boxes' records as generated, the service's life, and what the faults need."""

    def __init__(self, seed, box_count, verbose):
        self.rng = random.Random(seed)
        self.verbose = verbose
        self.serials = box_serials(box_count, self.rng)
        self.boxes = {i: BoxSimulator(serial=s, records=[], seed=seed * 100 + i)
                      for i, s in enumerate(self.serials)}
        start = datetime.datetime(2020, 1, 1) + datetime.timedelta(days=self.rng.randint(0, 300))
        self.next_hour = {i: start + datetime.timedelta(hours=self.rng.randint(0, 30))
                          for i in self.boxes}
        self.generated = {}  # (serial lower, yyyymmdd, hour) -> (count1, count2)
        self.env = None
        self.disk = None
        self.service = None
        self.encrypt = 0
        self.injected = collections.Counter()
        self.damaged = set()  # cache lines seen between rounds that are no whole record

    # --- records ----------------------------------------------------------------------
    def add_records(self, index, count):
        entries = []
        for _ in range(count):
            moment = self.next_hour[index]
            c1, c2 = self.rng.randint(1, 9999), self.rng.randint(1, 9999)
            entries.append((moment.date(), moment.hour, c1, c2))
            key = (self.serials[index].lower(), int(moment.strftime("%Y%m%d")), moment.hour)
            self.generated[key] = (c1, c2)
            self.next_hour[index] = moment + datetime.timedelta(hours=1)
        self.boxes[index].records.extend(make_records(entries))

    def feed_boxes(self):
        for index in self.boxes:
            if self.rng.random() < 0.6:
                self.add_records(index, self.rng.randint(1, 12))

    # --- the service ------------------------------------------------------------------
    def start(self, settings):
        self.env.write_settings(LocalDir=LOCAL_DIR, Encrypt=self.encrypt, **settings)
        self.service = self.env.start_service()

    def stop(self):
        """Kills the service hard, then waits until the boxes have dealt with whatever it sent
        before it died, so that their record lists can be changed safely."""
        if self.service is None:
            return
        self.service.kill()
        self.service.wait()
        self.service = None
        self.wait_boxes_quiet()

    def wait_boxes_quiet(self, quiet=0.4, timeout=10):
        def settled():
            last = [b.transcript[-1][2] for b in self.boxes.values() if b.transcript]
            return not last or time.monotonic() - max(last) > quiet
        wait_for(settled, timeout, interval=0.05)

    def check_cache(self):
        """Notes every cache line that is not a whole record line, a last line without its
        line feed included."""
        lines = self.cache_bytes().split(b"\n")
        for line in lines[:-1]:
            if not CACHE_LINE.fullmatch(line):
                self.damaged.add(line)
        if lines[-1]:
            self.damaged.add(lines[-1] + b" (no line feed)")

    def rotate_log(self, limit=4 * 1024 * 1024):
        """Drops a big log while the service is down, so a long run cannot fill the small
        disk with it; the log is not what is being checked."""
        path = self.env.local_file("quorveld.log", LOCAL_DIR)
        if os.path.exists(path) and os.path.getsize(path) > limit:
            os.unlink(path)

    def log_files(self, round_number):
        """In verbose runs: the database's record count and size and the journal's size after
        each round, and (with QUORVEL_FAULT_SNAPSHOTS=folder) a copy of the files."""
        if not self.verbose:
            return
        db = open(self.env.prefix.unix_path(LEGACY_DB), "rb").read()
        journal = self.env.read_local("quorveld.jnl", LOCAL_DIR)
        self.log("  database %d records, %d bytes; journal %s; cache %d lines" % (
            struct.unpack_from("<H", db)[0], len(db),
            "none" if journal is None else "%d bytes" % len(journal),
            self.cache_bytes().count(b"\n")))
        folder = os.environ.get("QUORVEL_FAULT_SNAPSHOTS")
        if folder:
            dest = os.path.join(folder, "round-%04d" % round_number)
            os.makedirs(dest, exist_ok=True)
            for name in ("quorveld.jnl", "quorveld.log", "quorveld.dat", "quorveld.box"):
                data = self.env.read_local(name, LOCAL_DIR)
                if data is not None:
                    open(os.path.join(dest, name), "wb").write(data)
            open(os.path.join(dest, "counts.db"), "wb").write(db)

    def cache_bytes(self):
        return self.env.read_local("quorveld.dat", LOCAL_DIR) or b""

    def submit_count(self):
        return sum(1 for p in self.env.server.paths() if p.startswith("/submitr"))

    def log(self, text):
        if self.verbose:
            say(text)


class FaultRun:
    def __init__(self, seed, faults, box_count, long_delays=False, verbose=False,
                 kinds=ALL_FAULTS):
        self.target = faults
        self.allowed = set(kinds)
        self.long_delays = long_delays
        self.site = Site(seed, box_count, verbose)
        self.rng = self.site.rng
        self.rounds = 0
        self.drained = False

    # --- the whole run -----------------------------------------------------------------
    def run(self):
        site = self.site
        with ServiceEnv(boxes=site.boxes, settings=POLL_CONTINUOUSLY, display=False) as env:
            site.env = env
            track_replies(env.server)
            make_legacy_database(env)
            site.disk = Disk(env.local_file("", LOCAL_DIR).rstrip("/"))
            if not site.disk.mounted:
                print("note: cannot mount a tmpfs over the cache folder (%s); the disk-full "
                      "fault is skipped" % (site.disk.reason or "not permitted"), flush=True)
            try:
                while sum(site.injected.values()) < self.target:
                    self.round()
                self.drain()
            finally:
                site.stop()
                site.disk.release()
            return self.outcome()

    def kinds(self, poll):
        kinds = POLL_FAULTS if poll else UPLOAD_FAULTS
        if not self.site.disk.mounted:
            kinds = tuple(k for k in kinds if k != "disk_full")
        return tuple(k for k in kinds if k in self.allowed) or ("kill_random",)

    def choose_faults(self, poll):
        left = self.target - sum(self.site.injected.values())
        chosen = []
        for _ in range(min(left, self.rng.randint(1, 4))):
            kind = self.rng.choice(self.kinds(poll))
            if kind in KILLS and any(k in KILLS for k in chosen):
                continue
            if kind not in chosen:
                chosen.append(kind)
        return chosen

    def round(self):
        site = self.site
        self.rounds += 1
        site.feed_boxes()
        has_records = any(b.records for b in site.boxes.values())
        cached = bool(site.cache_bytes())
        poll = has_records and (not cached or self.rng.random() < 0.5)
        if not poll and not cached:  # nothing anywhere: give the boxes something to say
            site.add_records(self.rng.choice(list(site.boxes)), self.rng.randint(1, 12))
            poll = True
        site.encrypt = self.rng.randint(0, 1)
        faults = self.choose_faults(poll)
        site.log("round %d: %s, faults %s" % (self.rounds, "download" if poll else "upload",
                                              ", ".join(faults)))
        if not site.verbose and self.rounds % 25 == 0:
            say("round %d, %d faults so far" % (self.rounds, sum(site.injected.values())))
        restore = [self.prepare(kind) for kind in faults]
        site.start(POLL_CONTINUOUSLY if poll else UPLOAD_CONTINUOUSLY)
        if "server_down" in faults:
            self.server_down()
        kill = next((k for k in faults if k in KILLS), None)
        if kill:
            getattr(self, kill)()  # waits for the moment; stop() below is the kill
        else:
            self.wait_round_done(poll)
        site.stop()
        for undo in restore:
            if undo:
                undo()
        site.check_cache()
        site.log_files(self.rounds)
        site.rotate_log()
        site.injected.update(faults)

    # --- faults set up before the service starts ------------------------------------------
    def prepare(self, kind):
        """Sets up a fault that lasts the round; returns what undoes it (or None)."""
        site, rng = self.site, self.rng
        server = site.env.server
        if kind.startswith("box_"):
            index = rng.choice(list(site.boxes))
            box = site.boxes[index]
            n = max(1, len(box.records))
            if kind == "box_silent":
                box.stop_after = rng.randrange(n)
                return lambda: setattr(box, "stop_after", None)
            if kind == "box_noise":
                box.noise = rng.uniform(0.1, 0.5)
                return lambda: setattr(box, "noise", 0.0)
            if kind == "box_split":
                box.split_writes = rng.randint(2, 6)
                return lambda: setattr(box, "split_writes", 1)
            if kind == "box_bad_checksum":
                box.bad_checksum = set(rng.sample(range(n), rng.randint(1, min(n, 4))))
                return lambda: setattr(box, "bad_checksum", set())
            if kind == "box_hash":
                box.hash_at = set(rng.sample(range(n + 1), rng.randint(1, min(n + 1, 4))))
                return lambda: setattr(box, "hash_at", set())
            if kind == "box_biteme":
                box.biteme_after = rng.randrange(n)
                return lambda: setattr(box, "biteme_after", None)
        if kind == "server_slow":
            delay = rng.uniform(1, 8)
            if self.long_delays and rng.random() < 0.05:
                delay = CLIENT_TIMEOUT + rng.uniform(2, 5)
            server.submit_reply = Reply(delay=delay)
            return lambda: setattr(server, "submit_reply", Reply())
        if kind == "server_500":
            server.submit_reply = SERVER_ERROR
            return lambda: setattr(server, "submit_reply", Reply())
        if kind == "server_garbage":
            server.submit_reply = GARBAGE
            return lambda: setattr(server, "submit_reply", Reply())
        if kind == "disk_full":
            site.disk.fill(rng.randint(0, 2))
            return site.disk.empty
        return None

    # --- faults that happen during the round --------------------------------------------
    def server_down(self):
        server = self.site.env.server
        time.sleep(self.rng.uniform(0, 2))
        server.refuse()
        time.sleep(self.rng.uniform(1, 5))
        server.resume()

    def kill_download(self):
        site = self.site
        marks = {i: len(b.transcript) for i, b in site.boxes.items()}

        def downloading():
            return any(text == "COOL" and direction == "in"
                       for i, b in site.boxes.items()
                       for direction, text, _ in list(b.transcript)[marks[i]:])
        wait_for(downloading, 12)
        time.sleep(self.rng.uniform(0, 1.5))

    def kill_upload(self):
        site = self.site
        server = site.env.server
        server.submit_reply = Reply(delay=self.rng.uniform(1, 3))
        before = site.submit_count()
        wait_for(lambda: site.submit_count() > before, 12)
        time.sleep(self.rng.uniform(0, 0.8))
        # The kill happens in stop(); the reply still waiting must not slow the next round.
        server.submit_reply = Reply()

    def kill_trim(self):
        site = self.site
        before = site.submit_count()
        wait_for(lambda: site.submit_count() > before, 12, interval=0.01)
        time.sleep(self.rng.uniform(0, 0.15))

    def kill_random(self):
        time.sleep(self.rng.uniform(0.3, 6))

    def wait_round_done(self, poll):
        """Lets a round without a kill run until its work is done, or for a while."""
        site = self.site
        if poll:
            total = sum(len(b.records) for b in site.boxes.values())
            wait_for(lambda: not any(b.records for b in site.boxes.values()),
                     min(12, 3 + 0.15 * total), interval=0.2)
        else:
            wait_for(lambda: not site.cache_bytes(), self.rng.uniform(2, 10), interval=0.2)

    # --- the end ------------------------------------------------------------------------
    def drain(self):
        site = self.site
        site.disk.empty()
        site.env.server.resume()
        site.env.server.submit_reply = Reply()
        site.encrypt = 0
        say("drain: %d rounds done; polling until every box is cleared ..." % self.rounds)
        total = sum(len(b.records) for b in site.boxes.values())
        site.start(POLL_CONTINUOUSLY)
        boxes_done = wait_for(lambda: not any(b.records for b in site.boxes.values()),
                              60 + 0.3 * total, interval=0.2)
        site.stop()
        site.check_cache()
        say("drain: uploading until the cache is empty ...")
        lines = site.cache_bytes().count(b"\n")
        site.start(UPLOAD_CONTINUOUSLY)
        cache_done = wait_for(lambda: not site.cache_bytes(), 60 + 0.1 * lines, interval=0.2)
        site.stop()
        self.drained = bool(boxes_done) and bool(cache_done)

    def outcome(self):
        site = self.site
        received = reconcile(site)
        lost = [k for k in site.generated if k not in received.delivered
                and k not in received.cached and k not in received.on_boxes]
        with open(site.env.prefix.unix_path(LEGACY_DB), "rb") as f:
            doubled, short, header_changed = compare_legacy(f.read(), site.generated,
                                                            received.delivered)
        return Outcome(
            boxes=len(site.boxes), rounds=self.rounds, drained=self.drained,
            generated=len(site.generated), delivered=len(received.delivered),
            cached=len(received.cached), on_boxes=len(received.on_boxes), lost=lost,
            corrupted=received.corrupted, damaged=sorted(site.damaged),
            duplicated=sum(n - 1 for n in received.delivered.values() if n > 1),
            batches=received.batches, undecodable=received.undecodable,
            faults=collections.Counter(site.injected), generated_records=site.generated,
            db_doubled=doubled, db_short=short, db_header_changed=header_changed)


@dataclasses.dataclass
class Outcome:
    boxes: int
    rounds: int
    drained: bool
    generated: int
    delivered: int
    cached: int
    on_boxes: int
    lost: list
    corrupted: list
    damaged: list
    duplicated: int
    batches: int
    undecodable: int
    faults: collections.Counter
    generated_records: dict
    db_doubled: list  # ((date, hour), total in the database, total of every record once)
    db_short: list
    db_header_changed: bool

    def ok(self):
        return (self.drained and not self.lost and not self.corrupted and not self.damaged
                and not self.undecodable and not self.db_doubled and not self.db_short
                and not self.db_header_changed)

    def table(self):
        rows = [("records generated", self.generated),
                ("delivered", self.delivered),
                ("still cached", self.cached),
                ("still on the boxes", self.on_boxes),
                ("lost", len(self.lost)),
                ("corrupted", len(self.corrupted)),
                ("duplicated at the server", self.duplicated),
                ("damaged cache lines", len(self.damaged)),
                ("batches accepted", self.batches),
                ("undecodable requests", self.undecodable),
                ("database hours counted twice", len(self.db_doubled)),
                ("database hours short", len(self.db_short))]
        lines = ["Reconciliation (%d boxes, %d rounds)" % (self.boxes, self.rounds)]
        lines += ["  %-26s %8d" % row for row in rows]
        lines.append("  (delivered and duplicated count batches the server accepted)")
        lines += ["", "Faults injected: %d" % sum(self.faults.values())]
        lines += ["  %-26s %8d" % (kind, self.faults[kind]) for kind in ALL_FAULTS
                  if self.faults[kind]]
        lines += ["lost: %s %s" % (key, self.generated_records[key]) for key in self.lost[:10]]
        lines += ["corrupted: %s" % (entry,) for entry in self.corrupted[:10]]
        lines += ["damaged cache line: %r" % line for line in self.damaged[:10]]
        lines += ["counted twice in the database: %s %d instead of %d" % row
                  for row in self.db_doubled[:10]]
        lines += ["short in the database: %s %d instead of %d" % row for row in self.db_short[:10]]
        if self.db_header_changed:
            lines.append("the database header's other 14 bytes changed")
        if not self.drained:
            lines.append("the drain did not finish: the boxes or the cache never emptied")
        return "\n".join(lines)


class Received:
    def __init__(self):
        self.delivered = collections.Counter()  # key -> batches that carried it exactly
        self.cached = set()
        self.on_boxes = set()
        self.corrupted = []  # (where, key, what arrived, what was counted)
        self.batches = 0
        self.undecodable = 0


def reconcile(site):
    """What reached the server, what is left in the cache and on the boxes, by record key."""
    out = Received()
    by_image = {scrambled_image(s): s.lower() for s in site.serials}
    for request in site.env.server.requests:
        if request.error:
            out.undecodable += 1
        batch = request.batch
        if batch is None:
            continue
        taken = accepted(request)
        out.batches += taken
        serial = by_image.get(batch.serial) if batch.scrambled else batch.serial
        for hour, pair in enumerate(batch.hours):
            if pair == (0, 0):
                continue
            key = (serial, int(batch.date), hour)
            if site.generated.get(key) != pair:  # wrong even in a batch the server refused
                out.corrupted.append(("server", key, pair, site.generated.get(key)))
            elif taken:
                out.delivered[key] += 1
    for line in site.cache_bytes().decode("latin-1").splitlines():
        parts = line.split(",")
        try:
            key = (parts[0], int(parts[1]), int(parts[2]))
            pair = (int(parts[3]), int(parts[4]))
        except (IndexError, ValueError):
            out.corrupted.append(("cache", line, None, None))
            continue
        if site.generated.get(key) == pair:
            out.cached.add(key)
        else:
            out.corrupted.append(("cache", key, pair, site.generated.get(key)))
    for index, box in site.boxes.items():
        for r in box.records:
            out.on_boxes.add((site.serials[index].lower(), r.year * 10000 + r.month * 100 + r.day,
                              r.hour))
    return out


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--faults", type=int, default=20, help="faults to inject before the drain")
    p.add_argument("--boxes", type=int, default=5)
    p.add_argument("--long-delays", action="store_true",
                   help="now and then let the server answer after the client's time-out")
    p.add_argument("--bin", default=service_env.WIN_BIN, help="folder of quorveld.exe")
    p.add_argument("--template", default=service_env.TEMPLATE, help="Wine prefix template")
    p.add_argument("--kinds", default=",".join(ALL_FAULTS),
                   help="comma-separated fault kinds to draw from (default: all)")
    p.add_argument("--verbose", action="store_true", help="print every round")
    args = p.parse_args(argv)
    service_env.WIN_BIN, service_env.TEMPLATE = args.bin, args.template
    if not os.path.isdir(args.template):
        say("making the Wine prefix template %s ..." % args.template)
        WinePrefix.create_template(args.template)
    say("fault run: seed %d, %d faults, %d boxes" % (args.seed, args.faults, args.boxes))
    kinds = [k for k in args.kinds.split(",") if k]
    unknown = set(kinds) - set(ALL_FAULTS)
    if unknown:
        p.error("unknown fault kinds: " + ", ".join(sorted(unknown)))
    started = time.monotonic()
    outcome = FaultRun(args.seed, args.faults, args.boxes, args.long_delays, args.verbose,
                       kinds).run()
    print()
    print(outcome.table())
    print("\nTook %.1f minutes." % ((time.monotonic() - started) / 60))
    if not outcome.drained:
        return 2
    return 0 if outcome.ok() else 1


if __name__ == "__main__":
    sys.exit(main())
