#!/usr/bin/env python3
"""A simulated counting box on the far end of a pseudo-terminal.

Import it (class BoxSimulator, which answers on its own thread) or run it for a person:

    python3 tools/boxsim/boxsim.py --link /tmp/box1 --days 2

Map a Wine COM port to the printed device (or to the --link path) and the service talks to it
as to a real box. Lines end with CR in both directions. The box understands:

    SSSN            -> 7 serial bytes and the version byte as 16 upper-case hex digits
    SSDD            -> its stored records one per line; the next after each COOL, the same
                       one again after BUMMER; COOL after the last record
    SSCD            -> forgets its records, COOL (BUMMER when told to refuse)
    SSTS + 14 hex   -> sets its clock (sec min hour weekday day month yy), COOL
                       (BUMMER when told to refuse or when the time is impossible)
    SSTR            -> its clock as 14 upper-case hex digits, same field order as SSTS

Anything else gets no answer. The transcript holds (direction, text, time.monotonic()) with
direction "in" (received by the box), "out" (sent by the box) or "error" (the box's own
trouble, such as an exception while answering).
"""
import argparse
import collections
import datetime
import errno
import os
import random
import select
import signal
import sys
import termios
import threading
import time
import tty

CR = b"\r"

Record = collections.namedtuple("Record", "year month day hour count1 count2")
Record.__doc__ = "One stored hourly record; year is the full year, counts are 16-bit."


def make_records(entries):
    """Records from (date, hour, count1, count2) tuples."""
    return [Record(d.year, d.month, d.day, hour, c1, c2) for d, hour, c1, c2 in entries]


def generate_records(days, start=datetime.date(2007, 1, 22), seed=1):
    """days x 24 hourly records from start on, with counts that depend only on seed."""
    rng = random.Random(seed)
    entries = []
    for offset in range(days):
        day = start + datetime.timedelta(days=offset)
        for hour in range(24):
            busy = 8 <= hour < 20
            top = 400 if busy else 15
            entries.append((day, hour, rng.randint(0, top), rng.randint(0, top)))
    return make_records(entries)


def checksum(data_bytes):
    """The byte that makes the sum of the record's bytes come out at 0xFF."""
    return (0xFF - sum(data_bytes)) & 0xFF


def record_line(record, six_field=False, bad_checksum=False, day=None, month=None):
    """The record as the box sends it, without the CR. day/month override the date fields."""
    day = record.day if day is None else day
    month = record.month if month is None else month
    yy = record.year % 100
    data = [record.hour, day, month, yy, record.count1 >> 8, record.count1 & 0xFF]
    fields = ["%02X" % record.hour, "%02X" % day, "%02X" % month, "%02X" % yy,
              "%04X" % record.count1]
    if not six_field:
        data += [record.count2 >> 8, record.count2 & 0xFF]
        fields.append("%04X" % record.count2)
    check = checksum(data)
    if bad_checksum:
        check = (check + 1) & 0xFF
    fields.append("%02X" % check)
    return " ".join(fields)


def cache_line(serial_hex, record, six_field=False):
    """The line the service keeps in its cache for a record received from this box."""
    count2 = 0 if six_field else record.count2
    return "%s,%04d%02d%02d,%02d,%05d,%05d" % (serial_hex.lower(), record.year, record.month,
                                               record.day, record.hour, record.count1, count2)


def clock_fields(moment):
    """sec, min, hour, weekday (1 = Sunday), day, month, yy of a datetime."""
    weekday = (moment.isoweekday() % 7) + 1
    return [moment.second, moment.minute, moment.hour, weekday, moment.day, moment.month,
            moment.year % 100]


def parse_clock(hex_digits):
    """A datetime from the 14 hex digits of SSTS, or None when they are not a valid time."""
    if len(hex_digits) < 14:
        return None
    try:
        sec, minute, hour, weekday, day, month, yy = (
            int(hex_digits[i:i + 2], 16) for i in range(0, 14, 2))
        if not 1 <= weekday <= 7:
            return None
        year = 2000 + yy if yy < 90 else 1900 + yy
        return datetime.datetime(year, month, day, hour, minute, sec)
    except ValueError:
        return None


def _indices(value):
    """A set of record indices from an iterable, or every index when value is True."""
    if value is True:
        return _All()
    return set(value or ())


class _All:
    def __contains__(self, _item):
        return True


class BoxSimulator:
    """One box behind a pseudo-terminal, answering on its own thread.

    Fault knobs (record indices count from 0 in `records` as stored at SSDD time):
      bad_checksum   records sent with a wrong checksum the first time in each download
      garbage_day    records sent with day 32;  garbage_month: with month 13
      six_field      records sent without the second count (True: all of them)
      hash_at        points k (0 = the SSDD itself, k = the COOL for record k-1) whose command
                     is answered with HASH once, so the service has to send it again
      biteme_after   BITEME instead of record k once k records were acknowledged
      silent         answer nothing at all
      stop_after     send nothing more after k records were acknowledged (mid-download)
      refuse_set_time, refuse_clear: answer SSTS / SSCD with BUMMER
      split_writes   send each line in this many pieces, split_delay seconds apart
      noise          probability that 1-8 random bytes (never CR) precede a line sent
      max_resends    BITEME after a record was rejected this many times in a row
      cut_off_with   bytes sent, with no line end, in place of the next answer; the box then
                     falls silent (power lost or cable pulled in mid-line)
    The knobs are plain attributes and may be changed while the simulator runs.
    """

    def __init__(self, serial="0123456789ABCD", version=1, records=None, clock=None,
                 bad_checksum=(), garbage_day=(), garbage_month=(), six_field=(), hash_at=(),
                 biteme_after=None, silent=False, stop_after=None, refuse_set_time=False,
                 refuse_clear=False, split_writes=1, split_delay=0.03, noise=0.0, seed=1,
                 max_resends=5, cut_off_with=None, link=None, on_event=None):
        serial_bytes = bytes.fromhex(serial)
        if len(serial_bytes) != 7:
            raise ValueError("serial must be 14 hex digits")
        self.serial = serial.upper()
        self.version = version & 0xFF
        self.records = list(records or [])
        self.bad_checksum = _indices(bad_checksum)
        self.garbage_day = _indices(garbage_day)
        self.garbage_month = _indices(garbage_month)
        self.six_field = _indices(six_field)
        self.hash_at = _indices(hash_at)
        self.biteme_after = biteme_after
        self.silent = silent
        self.stop_after = stop_after
        self.refuse_set_time = refuse_set_time
        self.refuse_clear = refuse_clear
        self.split_writes = max(1, split_writes)
        self.split_delay = split_delay
        self.noise = noise
        self.max_resends = max_resends
        self.cut_off_with = cut_off_with
        self.on_event = on_event

        self.transcript = []
        self.cleared = 0
        self.clock_sets = []
        self._clock_offset = (clock - datetime.datetime.now()) if clock else datetime.timedelta()
        self._rng = random.Random(seed)
        self._download = None  # the running download's state, None when none
        self._hashed = set()  # HASH points already used in this exchange
        self._pending = b""

        self._master, self._slave = os.openpty()
        for fd in (self._master, self._slave):
            tty.setraw(fd, termios.TCSANOW)
        os.set_blocking(self._master, False)  # a peer that stops reading must not hang stop()
        self.device_path = os.ttyname(self._slave)
        self.link = link
        if link:
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(self.device_path, link)
        self._stop_r, self._stop_w = os.pipe()
        self._thread = None

    # --- life cycle ----------------------------------------------------------------
    def start(self):
        self._thread = threading.Thread(target=self._run, name="boxsim", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        """Ends the thread and closes the pty; stop the wineserver that uses it first."""
        if self._thread:
            os.write(self._stop_w, b"x")
            self._thread.join(5)
            self._thread = None
        for fd in (self._master, self._slave, self._stop_r, self._stop_w):
            try:
                os.close(fd)
            except OSError:
                pass
        self._master = self._slave = -1
        if self.link and os.path.islink(self.link):
            os.unlink(self.link)

    def __enter__(self):
        return self.start()

    def __exit__(self, *_exc):
        self.stop()

    # --- views for tests -----------------------------------------------------------
    def received(self):
        """Lines received so far, without their CR."""
        return [text for direction, text, _ in list(self.transcript) if direction == "in"]

    def sent(self):
        """Lines sent so far, without their CR (noise bytes included)."""
        return [text for direction, text, _ in list(self.transcript) if direction == "out"]

    def clock(self):
        return datetime.datetime.now() + self._clock_offset

    # --- the thread ------------------------------------------------------------------
    def _run(self):
        while True:
            try:
                ready, _, _ = select.select([self._master, self._stop_r], [], [], 1.0)
            except (OSError, ValueError):
                return
            if self._stop_r in ready:
                return
            if self._master not in ready:
                continue
            try:
                data = os.read(self._master, 4096)
            except OSError as e:
                if e.errno == errno.EIO:  # no process holds the other end: wait for one
                    time.sleep(0.05)
                    continue
                return
            self._receive(data)

    def _receive(self, data):
        self._pending += data
        while True:
            cut = min((i for i in (self._pending.find(b"\r"), self._pending.find(b"\n"))
                       if i >= 0), default=-1)
            if cut < 0:
                break
            raw, self._pending = self._pending[:cut], self._pending[cut + 1:]
            if not raw:
                continue
            text = raw.decode("latin-1")
            self._log("in", text)
            try:
                self._answer(text)
            except Exception as e:  # the box must survive anything; keep the reason
                self._log("error", "%s: %s" % (type(e).__name__, e))
        if len(self._pending) > 4096:  # no line end in sight: forget the garbage
            self._pending = b""

    def _log(self, direction, text):
        entry = (direction, text, time.monotonic())
        self.transcript.append(entry)
        if self.on_event:
            self.on_event(*entry)

    def _send(self, text):
        line = text.encode("latin-1")
        if self.noise and self._rng.random() < self.noise:
            line = bytes(self._rng.choice([b for b in range(256) if b != 0x0D])
                         for _ in range(self._rng.randint(1, 8))) + line
        self._log("out", line.decode("latin-1"))
        self._write_in_pieces(line + CR)

    def _write_in_pieces(self, data):
        pieces = min(self.split_writes, len(data))
        size = -(-len(data) // pieces)
        for start in range(0, len(data), size):
            if start:
                time.sleep(self.split_delay)
            if not self._write_all(data[start:start + size]):
                self._log("error", "the other end stopped reading; line cut short")
                return

    def _write_all(self, data):
        while data:
            try:
                data = data[os.write(self._master, data):]
            except BlockingIOError:
                if not select.select([], [self._master], [], 1.0)[1]:
                    return False
            except OSError:
                return False
        return True

    # --- the protocol ---------------------------------------------------------------
    def _answer(self, text):
        if self.silent:
            return
        if self.cut_off_with is not None:
            self._cut_off()
            return
        command = text.strip().upper()
        if command.startswith("SSSN"):
            self._download = None
            self._hashed = set()
            self._send(self.serial + "%02X" % self.version)
        elif command.startswith("SSDD"):
            self._start_download()
        elif command.startswith("COOL"):
            self._acknowledged()
        elif command.startswith("BUMMER"):
            self._rejected()
        elif command.startswith("SSCD"):
            self._download = None
            self._clear()
        elif command.startswith("SSTS"):
            self._download = None
            self._set_time(command[4:])
        elif command.startswith("SSTR"):
            self._download = None
            self._send("".join("%02X" % v for v in clock_fields(self.clock())))

    def _cut_off(self):
        data, self.cut_off_with = self.cut_off_with, None
        self.silent = True
        self._log("out", data.decode("latin-1"))
        self._write_all(data)

    def _start_download(self):
        if self._hash_once(0):
            return
        # A repeated SSDD starts the download over.
        self._download = {"next": 0, "resends": 0, "bad_sent": set()}
        self._send_current()

    def _hash_once(self, point):
        """HASH instead of acting on the command that leads to point, once per exchange."""
        if point in self.hash_at and point not in self._hashed:
            self._hashed.add(point)
            self._send("HASH")
            return True
        return False

    def _acknowledged(self):
        d = self._download
        if d is None:
            return
        if d["next"] >= len(self.records):  # the end-of-data COOL needs no answer
            self._download = None
            return
        point = d["next"] + 1
        if self._hash_once(point):
            return
        d["next"], d["resends"] = point, 0
        self._send_current()

    def _rejected(self):
        d = self._download
        if d is None:
            return
        d["resends"] += 1
        if d["resends"] > self.max_resends:
            self._download = None
            self._send("BITEME")
            return
        self._send_current()

    def _send_current(self):
        d = self._download
        k = d["next"]
        if self.biteme_after is not None and k >= self.biteme_after and k < len(self.records):
            self._download = None
            self._send("BITEME")
        elif self.stop_after is not None and k >= self.stop_after:
            self._download = None
        elif k >= len(self.records):
            self._send("COOL")
        else:
            bad = k in self.bad_checksum and k not in d["bad_sent"]
            if bad:
                d["bad_sent"].add(k)
            self._send(record_line(
                self.records[k], six_field=k in self.six_field, bad_checksum=bad,
                day=32 if k in self.garbage_day else None,
                month=13 if k in self.garbage_month else None))

    def _clear(self):
        if self.refuse_clear:
            self._send("BUMMER")
            return
        self.records = []
        self.cleared += 1
        self._send("COOL")

    def _set_time(self, digits):
        moment = parse_clock(digits)
        if self.refuse_set_time or moment is None:
            self._send("BUMMER")
            return
        self._clock_offset = moment - datetime.datetime.now()
        self.clock_sets.append(moment)
        self._send("COOL")


# --- command line ----------------------------------------------------------------------
def _index_list(text):
    if text == "all":
        return True
    return {int(part) for part in text.split(",") if part.strip()}


def _record_arg(text):
    day, hour, c1, c2 = text.split(",")
    return (datetime.date.fromisoformat(day), int(hour), int(c1), int(c2))


def _parse_args(argv):
    p = argparse.ArgumentParser(
        description="Simulates one counting box on a pseudo-terminal until Ctrl+C or SIGTERM. "
                    "Record indices count from 0.")
    p.add_argument("--link", help="also make this symlink to the pty (for a Wine COM mapping)")
    p.add_argument("--serial", default="0123456789ABCD", help="14 hex digits")
    p.add_argument("--version", type=lambda s: int(s, 0), default=1, help="version byte")
    p.add_argument("--days", type=int, default=1, help="days of 24 generated records")
    p.add_argument("--start", type=datetime.date.fromisoformat, default=datetime.date(2007, 1, 22),
                   help="first generated day (YYYY-MM-DD)")
    p.add_argument("--seed", type=int, default=1, help="seed of the generated counts and noise")
    p.add_argument("--record", action="append", type=_record_arg, default=[],
                   metavar="YYYY-MM-DD,HOUR,C1,C2", help="a record instead of generated ones")
    p.add_argument("--clock", type=datetime.datetime.fromisoformat,
                   help="initial box clock (default: the PC's local time)")
    p.add_argument("--bad-checksum", type=_index_list, default=set(), metavar="I,J")
    p.add_argument("--garbage-day", type=_index_list, default=set(), metavar="I,J")
    p.add_argument("--garbage-month", type=_index_list, default=set(), metavar="I,J")
    p.add_argument("--six-field", type=_index_list, default=set(), metavar="I,J|all")
    p.add_argument("--hash-at", type=_index_list, default=set(), metavar="K,L")
    p.add_argument("--biteme-after", type=int, metavar="K")
    p.add_argument("--stop-after", type=int, metavar="K")
    p.add_argument("--silent", action="store_true", help="answer nothing at all")
    p.add_argument("--refuse-set-time", action="store_true")
    p.add_argument("--refuse-clear", action="store_true")
    p.add_argument("--split-writes", type=int, default=1, metavar="N")
    p.add_argument("--split-delay", type=float, default=0.03, metavar="SECONDS")
    p.add_argument("--noise", type=float, default=0.0, metavar="PROBABILITY")
    return p.parse_args(argv)


def main(argv=None):
    args = _parse_args(argv)
    records = (make_records(args.record) if args.record
               else generate_records(args.days, args.start, args.seed))

    def show(direction, text, _when):
        arrow = {"in": "<-", "out": "->"}.get(direction, "!!")
        print("%s %s %r" % (time.strftime("%H:%M:%S"), arrow, text), flush=True)

    sim = BoxSimulator(
        serial=args.serial, version=args.version, records=records, clock=args.clock,
        bad_checksum=args.bad_checksum, garbage_day=args.garbage_day,
        garbage_month=args.garbage_month, six_field=args.six_field, hash_at=args.hash_at,
        biteme_after=args.biteme_after, silent=args.silent, stop_after=args.stop_after,
        refuse_set_time=args.refuse_set_time, refuse_clear=args.refuse_clear,
        split_writes=args.split_writes, split_delay=args.split_delay, noise=args.noise,
        seed=args.seed, link=args.link, on_event=show)
    print("box %s v%02X with %d records on %s%s" % (
        sim.serial, sim.version, len(records), sim.device_path,
        " (link %s)" % args.link if args.link else ""), flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    sim.start()
    try:
        done.wait()
    except KeyboardInterrupt:
        pass
    finally:
        sim.stop()
        print("stopped; %d records stored, cleared %d times" % (len(sim.records), sim.cleared))
    return 0


if __name__ == "__main__":
    sys.exit(main())
