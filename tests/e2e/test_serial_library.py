"""The serial library (CDRVHF32.DLL over CDRVDL32.DLL) under Wine, driven by serial_probe.exe,
with COM ports mapped to pseudo-terminals; and the box simulator's own behaviour."""
import datetime
import os
import select
import subprocess
import termios
import time
import tty
import unittest

from harness import TEMPLATE, WIN_BIN, WinePrefix  # sets the tools' import paths
import boxsim
from boxsim import BoxSimulator, make_records, record_line

# The library's results (serial/cdrvhf32.h).
OK, BAD_ARGUMENT, IN_USE, NO_DEVICE, SETUP_FAILED, NOT_INITIALIZED = 0, -1, -2, -3, -4, -5

EVERY_BYTE = bytes(range(256))


class Pty:
    """A raw pseudo-terminal; the test holds the master end, Wine opens the slave's path."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        for fd in (self.master, self.slave):
            tty.setraw(fd, termios.TCSANOW)
        self.path = os.ttyname(self.slave)

    def read_exactly(self, count, timeout=5.0):
        data, end = b"", time.monotonic() + timeout
        while len(data) < count and time.monotonic() < end:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                data += os.read(self.master, count - len(data))
        return data

    def write(self, data):
        os.write(self.master, data)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class Probe:
    """serial_probe.exe: one library call per line in, one result line out."""

    def __init__(self, prefix):
        self.proc = prefix.start([os.path.join(WIN_BIN, "serial_probe.exe")], cwd=WIN_BIN,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        self.buffer = b""

    def call(self, line, timeout=20.0):
        self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()
        end = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self.buffer:
            left = end - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise AssertionError("serial_probe gave no answer to %r" % line)
            chunk = os.read(fd, 4096)
            if not chunk:
                raise AssertionError("serial_probe ended at %r" % line)
            self.buffer += chunk
        answer, self.buffer = self.buffer.split(b"\n", 1)
        return answer.decode().rstrip("\r")

    def result(self, line):
        """The number the call returned."""
        return int(self.call(line).split()[1])

    def receive(self, port, count, space=2048, timeout=5.0):
        """GetPacket until count bytes arrived; every answer must respect `space`."""
        data, end = b"", time.monotonic() + timeout
        while len(data) < count and time.monotonic() < end:
            fields = self.call("get %d %d" % (port, space)).split()
            got = int(fields[1])
            if got > space:
                raise AssertionError("GetPacket gave %d bytes for space %d" % (got, space))
            data += bytes.fromhex(fields[2]) if got > 0 else b""
            if got <= 0:
                time.sleep(0.05)
        return data

    def quit(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
            self.proc.wait(20)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()


class SerialLibraryTest(unittest.TestCase):
    """COM1 and COM12 on ptys, COM2 on a simulated box, COM3 mapped to a missing device."""

    @classmethod
    def setUpClass(cls):
        cls.com1, cls.com12 = Pty(), Pty()
        cls.box = BoxSimulator(serial="0123456789ABCD", version=1, records=make_records(
            [(datetime.date(2007, 1, 22), 13, 12, 34)])).start()
        cls.prefix = WinePrefix.clone(TEMPLATE)
        try:
            cls.prefix.map_com(1, cls.com1.path)
            cls.prefix.map_com(2, cls.box.device_path)
            cls.prefix.map_com(3, "/nonexistent/quorvel-serial-test")
            cls.prefix.map_com(12, cls.com12.path)
            cls.prefix.wait_server()
            cls.prefix.start_server()
            cls.probe = Probe(cls.prefix)
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "probe", None):
            cls.probe.quit()
        # The wineserver must be gone before the ptys hang up.
        cls.prefix.stop_server()
        cls.box.stop()
        cls.com1.close()
        cls.com12.close()
        cls.prefix.remove()

    def open_port(self, port, device):
        self.assertEqual(self.probe.result("init %d %d" % (port, device)), OK)
        self.assertEqual(self.probe.result("set %d 9600 0 3 0 4" % port), OK)
        self.addCleanup(self.probe.call, "close %d" % port)

    def test_index_0_is_com1_at_9600_8n1_and_bytes_pass_unchanged_both_ways(self):
        self.open_port(0, 0)
        attrs = termios.tcgetattr(self.com1.slave)
        iflag, cflag, ispeed, ospeed = attrs[0], attrs[2], attrs[4], attrs[5]
        self.assertEqual((ispeed, ospeed), (termios.B9600, termios.B9600))
        self.assertEqual(cflag & termios.CSIZE, termios.CS8)
        self.assertEqual(cflag & (termios.PARENB | termios.CSTOPB | termios.CRTSCTS), 0)
        self.assertEqual(iflag & (termios.IXON | termios.IXOFF | termios.ICRNL), 0)

        self.assertEqual(self.probe.result("put 0 " + EVERY_BYTE.hex()), 256)
        self.assertEqual(self.com1.read_exactly(256), EVERY_BYTE)

        inbound = b"\x00\xff\r\nSSSN\r\n\x00" + EVERY_BYTE
        self.com1.write(inbound)
        self.assertEqual(self.probe.receive(0, len(inbound)), inbound)

    def test_get_packet_answers_at_once_and_never_exceeds_the_space(self):
        self.open_port(0, 0)
        started = time.monotonic()
        self.assertEqual(self.probe.call("get 0 100"), "get 0 ")
        self.assertLess(time.monotonic() - started, 2.0)

        self.com1.write(b"0123456789")
        time.sleep(0.3)
        self.assertEqual(self.probe.call("get 0 4"), "get 4 " + b"0123".hex().upper())
        self.assertEqual(self.probe.receive(0, 6, space=100), b"456789")
        self.assertEqual(self.probe.call("get 0 0"), "get 0 ")

    def test_com_numbers_above_9_are_reached(self):
        self.open_port(5, 11)
        self.assertEqual(self.probe.result("put 5 " + b"SSTR\r".hex()), 5)
        self.assertEqual(self.com12.read_exactly(5), b"SSTR\r")

    def test_a_port_without_a_working_device_does_not_open(self):
        with self.subTest("mapped to a missing device: opens, then refuses its settings"):
            self.assertEqual(self.probe.result("init 2 2"), SETUP_FAILED)
            # Nothing stayed open: the same port number is free for the next attempt.
            self.assertEqual(self.probe.result("init 2 2"), SETUP_FAILED)
            self.assertEqual(self.probe.result("close 2"), NOT_INITIALIZED)
        with self.subTest("not mapped at all"):
            self.assertEqual(self.probe.result("init 7 199"), NO_DEVICE)

    def test_calls_on_ports_that_are_not_open_or_with_unknown_codes_fail(self):
        with self.subTest("unknown codes"):
            for codes in ("0 0 0 0 3 0 2048 512 0",   # speed code
                          "0 0 5 0 9 0 2048 512 0",   # parity
                          "0 0 0 3 9 0 2048 512 0",   # stop bits
                          "0 0 0 0 9 8 2048 512 0",   # line bits
                          "0 0 0 0 9 0 0 512 0",      # receive queue
                          "0 0 0 0 9 0 2048 512 1",   # reserved
                          "256 0 0 0 9 0 2048 512 0",  # port number
                          "0 256 0 0 9 0 2048 512 0"):  # device number
                self.assertEqual(self.probe.result("init " + codes), BAD_ARGUMENT, codes)
        with self.subTest("not open"):
            self.assertEqual(self.probe.call("get 4 10"), "get %d " % NOT_INITIALIZED)
            self.assertEqual(self.probe.result("put 4 41"), 0)
            self.assertEqual(self.probe.result("set 4 9600 0 3 0 4"), NOT_INITIALIZED)
            self.assertEqual(self.probe.result("close 4"), NOT_INITIALIZED)
        with self.subTest("open twice, framing codes, empty packet"):
            self.open_port(0, 0)
            self.assertEqual(self.probe.result("init 0 0"), IN_USE)
            self.assertEqual(self.probe.result("set 0 9600 0 4 0 4"), BAD_ARGUMENT)
            self.assertEqual(self.probe.result("set 0 0 0 3 0 4"), BAD_ARGUMENT)
            self.assertEqual(self.probe.result("put 0 "), 0)

    def test_the_box_simulator_answers_through_the_library(self):
        self.open_port(1, 1)

        def ask(command):
            self.assertEqual(self.probe.result("put 1 " + (command + "\r").encode().hex()),
                             len(command) + 1)
            reply = b""
            while not reply.endswith(b"\r"):
                more = self.probe.receive(1, 1)
                self.assertTrue(more, "no reply to %s after %r" % (command, reply))
                reply += more
            return reply.decode()

        self.assertEqual(ask("SSSN"), "0123456789ABCD01\r")
        self.assertEqual(ask("SSDD"), "0D 16 01 07 000C 0022 A6\r")
        self.assertEqual(ask("COOL"), "COOL\r")
        self.assertEqual(ask("SSCD"), "COOL\r")
        self.assertEqual(self.box.records, [])


class BoxSimulatorTest(unittest.TestCase):
    """The simulator alone, talked to over its pty from Python."""

    def talk(self, sim, *commands):
        """The reply to each command: everything up to its CR, or "" after a second of silence."""
        fd = os.open(sim.device_path, os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, fd)
        replies = []
        for command in commands:
            os.write(fd, command.encode("latin-1") + b"\r")
            data = b""
            while not data.endswith(b"\r") and select.select([fd], [], [], 1.0)[0]:
                data += os.read(fd, 4096)
            replies.append(data.decode("latin-1"))
        return replies

    def sim(self, records=3, **knobs):
        sim = BoxSimulator(records=boxsim.generate_records(1)[:records], **knobs).start()
        self.addCleanup(sim.stop)
        return sim

    def test_record_lines_carry_the_checksum_of_their_bytes(self):
        record = make_records([(datetime.date(2007, 1, 22), 13, 12, 34)])[0]
        self.assertEqual(record_line(record), "0D 16 01 07 000C 0022 A6")
        self.assertEqual(record_line(record, six_field=True), "0D 16 01 07 000C C8")
        self.assertEqual(record_line(record, bad_checksum=True), "0D 16 01 07 000C 0022 A7")
        self.assertEqual(record_line(record, day=32), "0D 20 01 07 000C 0022 9C")
        self.assertEqual(boxsim.cache_line("0123456789ABCD", record),
                         "0123456789abcd,20070122,13,00012,00034")
        first, again = boxsim.generate_records(2, seed=7), boxsim.generate_records(2, seed=7)
        self.assertEqual((len(first), first), (48, again))

    def test_download_walks_the_records_and_resends_on_bummer(self):
        sim = self.sim(records=2)
        lines = [record_line(r) for r in sim.records]
        self.assertEqual(self.talk(sim, "SSSN", "SSDD", "BUMMER", "COOL", "COOL", "SSCD"),
                         ["0123456789ABCD01\r", lines[0] + "\r", lines[0] + "\r",
                          lines[1] + "\r", "COOL\r", "COOL\r"])
        self.assertEqual((sim.records, sim.cleared), ([], 1))
        self.assertEqual(sim.received(), ["SSSN", "SSDD", "BUMMER", "COOL", "COOL", "SSCD"])
        self.assertEqual(sim.sent()[:2], ["0123456789ABCD01", lines[0]])

    def test_fault_knobs(self):
        with self.subTest("HASH before the first record and before the second"):
            sim = self.sim(records=2, hash_at={0, 1})
            lines = [record_line(r) + "\r" for r in sim.records]
            self.assertEqual(self.talk(sim, "SSDD", "SSDD", "COOL", "COOL", "COOL"),
                             ["HASH\r", lines[0], "HASH\r", lines[1], "COOL\r"])
        with self.subTest("bad checksum only on the first sending"):
            sim = self.sim(records=1, bad_checksum={0})
            good = record_line(sim.records[0])
            bad = record_line(sim.records[0], bad_checksum=True)
            self.assertEqual(self.talk(sim, "SSDD", "BUMMER"), [bad + "\r", good + "\r"])
        with self.subTest("BITEME, silence, refusals"):
            sim = self.sim(records=3, biteme_after=1)
            self.assertEqual(self.talk(sim, "SSDD", "COOL")[1], "BITEME\r")
            sim = self.sim(records=3, stop_after=1)
            self.assertEqual(self.talk(sim, "SSDD", "COOL")[1], "")
            sim = self.sim(refuse_set_time=True, refuse_clear=True)
            self.assertEqual(self.talk(sim, "SSTS09050D02160107", "SSCD"), ["BUMMER\r"] * 2)
            self.assertEqual(sim.cleared, 0)
            self.assertEqual(self.talk(self.sim(silent=True), "SSSN"), [""])
        with self.subTest("BITEME once the service rejected a record too often"):
            sim = self.sim(records=1, max_resends=2)
            line = record_line(sim.records[0]) + "\r"
            self.assertEqual(self.talk(sim, "SSDD", "BUMMER", "BUMMER", "BUMMER"),
                             [line, line, line, "BITEME\r"])
        with self.subTest("noise before a line, never a CR"):
            sim = self.sim(noise=1.0)
            reply = self.talk(sim, "SSSN")[0]
            self.assertTrue(reply.endswith("0123456789ABCD01\r"), repr(reply))
            self.assertTrue(1 <= len(reply) - 17 <= 8 and "\r" not in reply[:-1], repr(reply))
        with self.subTest("garbage dates and six fields"):
            sim = self.sim(records=2, garbage_month={0}, six_field=True)
            r = sim.records
            self.assertEqual(self.talk(sim, "SSDD", "COOL"),
                             [record_line(r[0], six_field=True, month=13) + "\r",
                              record_line(r[1], six_field=True) + "\r"])

    def test_clock_is_set_and_read_back(self):
        sim = self.sim(clock=datetime.datetime(2020, 5, 6, 7, 8, 9))
        self.assertEqual(self.talk(sim, "SSTS09050D02160107", "SSTR", "SSTS00003F02010107",
                                   "SSTS000000090A0107"),
                         ["COOL\r", "09050D02160107\r", "BUMMER\r", "BUMMER\r"])
        self.assertEqual(sim.clock_sets, [datetime.datetime(2007, 1, 22, 13, 5, 9)])

    def test_survives_garbage_and_split_lines(self):
        sim = self.sim(split_writes=4, split_delay=0.02)
        noise = "".join(chr(b) for b in range(256) if b not in (0x0D, 0x0A))
        self.assertEqual(self.talk(sim, noise, "SS", "SSTS", "SSSN"),
                         ["", "", "BUMMER\r", "0123456789ABCD01\r"])
        self.assertNotIn("error", [d for d, _, _ in sim.transcript])


if __name__ == "__main__":
    unittest.main()
