#!/usr/bin/env python3
"""The main job, end to end on one machine: three simulated boxes hold two days of hourly
counts each; quorveld (under Wine) downloads them into its cache, then uploads them box-day by
box-day to the stub collection server on 127.0.0.1, which decodes what it receives; every
accepted day is also added to the older counting application's database. At the end
quorvel-status reports the site's health.

    python3 tools/demo/demo.py [--template DIR] [--bin DIR] [--secure]

With --secure the uploads go over HTTPS (Secure=1) to nginx on 127.0.0.1, which terminates
TLS in front of the stub server; the test authority behind nginx's certificate is trusted in
the demo's Wine prefix only.
"""
import argparse
import datetime
import os
import shutil
import struct
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(ROOT, "tools", "wine"), os.path.join(ROOT, "tools", "serverstub")]

import service_env  # noqa: E402
from service_env import (BoxSimulator, ServiceEnv, WinePrefix, generate_records,  # noqa: E402
                         POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, wait_for, wine_mode)
from tlsfront import CertificateAuthority, TlsFront  # noqa: E402

BOXES = {0: "0123456789ABCD", 1: "00A1B2C3D4E5F6", 2: "0000000000BEEF"}
DAYS = 2
LEGACY_DB = r"C:\rcs\counts.db"


def say(text):
    print(time.strftime("%H:%M:%S"), text, flush=True)


def make_legacy_database(env):
    path = env.prefix.unix_path(LEGACY_DB)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(struct.pack("<H", 0) + b"RCS-COUNTS-V1\0")
    env.prefix.write_ini("rcs.ini", {"Preferences": {"Database": LEGACY_DB},
                                     "Communication": {"Port": "1"}})


def legacy_records(env):
    with open(env.prefix.unix_path(LEGACY_DB), "rb") as f:
        data = f.read()
    count = struct.unpack_from("<H", data)[0]
    return [struct.unpack_from("<HBBHH", data, 16 + 8 * k) for k in range(count)]


def secure_upload_settings(env, workdir):
    """nginx with a certificate from a fresh test authority in front of the stub server, the
    authority trusted in the prefix, and the settings that send the uploads there."""
    authority = CertificateAuthority(workdir, "Quorvel Demo Authority")
    front = TlsFront(env.server.port, authority.issue("server", ["127.0.0.1"]), workdir)
    shutil.copy(authority.cert, os.path.join(env.prefix.drive_c, "authority.pem"))
    certtrust = os.path.abspath(os.path.join(service_env.WIN_BIN, "certtrust.exe"))
    code, out = env.run_windows_tool([certtrust, r"C:\authority.pem"])
    if code != 0:
        front.stop()
        raise RuntimeError("certtrust failed: " + out)
    say("nginx terminates TLS on 127.0.0.1:%d in front of the collection server" % front.port)
    return front, dict(UPLOAD_CONTINUOUSLY, Secure=1, ServerPort=front.port)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--template", default=service_env.TEMPLATE)
    p.add_argument("--bin", default=service_env.WIN_BIN)
    p.add_argument("--secure", action="store_true", help="upload over HTTPS through nginx")
    args = p.parse_args()
    service_env.TEMPLATE, service_env.WIN_BIN = args.template, args.bin
    if WinePrefix.template_mode(args.template) != wine_mode().name:
        say("making the Wine prefix template (once per mode) ...")
        WinePrefix.create_template(args.template)

    today = datetime.date.today()
    boxes = {port: BoxSimulator(serial=serial, records=generate_records(
        DAYS, start=today - datetime.timedelta(days=DAYS), seed=port + 1))
        for port, serial in BOXES.items()}
    expected = {(serial.lower(), r.year * 10000 + r.month * 100 + r.day, r.hour): (r.count1, r.count2)
                for port, serial in BOXES.items() for r in boxes[port].records}

    workdir = tempfile.mkdtemp(prefix="quorvel-demo-tls-")
    try:
        return run_site(args, boxes, expected, workdir)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def run_site(args, boxes, expected, workdir):
    with ServiceEnv(boxes=boxes, settings=POLL_CONTINUOUSLY, display=False) as env:
        make_legacy_database(env)
        say("site ready: boxes on COM1-COM3, collection server on 127.0.0.1:%d" % env.server.port)
        service = env.start_service()
        say("quorveld started; it polls the boxes (10 records a second at most) ...")
        # Cleared, and the service has logged the box's answer to the clear.
        wait_for(lambda: all(b.cleared for b in boxes.values()) and
                 env.log_text().count(";Data successfully cleared.") >= len(boxes), timeout=180)
        cache = (env.read_local("quorveld.dat") or b"").decode()
        say("boxes cleared: %d records now in C:\\quorvl\\quorveld.dat, for example:" % len(cache.splitlines()))
        for line in cache.splitlines()[:3]:
            print("    " + line)
        service.kill()
        service.wait()

        upload_settings, front = UPLOAD_CONTINUOUSLY, None
        if args.secure:
            front, upload_settings = secure_upload_settings(env, workdir)
        say("restarting quorveld with uploads due back to back%s ..."
            % (" over HTTPS" if args.secure else ""))
        try:
            env.write_settings(**upload_settings)
            service = env.start_service()
            box_days = len(BOXES) * DAYS
            wait_for(lambda: len(env.server.batches) >= box_days
                     and not env.read_local("quorveld.dat"), timeout=120)
        finally:
            if front:
                front.stop()

        say("the collection server received %d batches:" % len(env.server.batches))
        delivered = {}
        for b in env.server.batches:
            total = sum(c1 + c2 for c1, c2 in b.hours)
            print("    box %s  day %s  %5d counts  hours 08-11: %s" % (
                b.serial, b.date, total, " ".join("%d/%d" % h for h in b.hours[8:12])))
            for hour, pair in enumerate(b.hours):
                if pair != (0, 0):
                    delivered[(b.serial, int(b.date), hour)] = pair
        missing = [k for k, v in expected.items() if v != (0, 0) and delivered.get(k) != v]
        say("records checked against the boxes: %d, mismatched or missing: %d"
            % (len(expected), len(missing)))
        records = legacy_records(env)
        say("legacy database %s now holds %d hourly records (total %d counts)"
            % (LEGACY_DB, len(records), sum(r[0] for r in records)))
        print("\n--- last lines of C:\\quorvl\\quorveld.log ---")
        for line in env.log_lines()[-12:]:
            print("    " + line)

        # The site's health as site staff and monitoring tools see it, beside the service.
        shutil.copy(os.path.join(service_env.WIN_BIN, "quorvel-status.exe"),
                    env.local_file("quorvel-status.exe"))
        code, out = env.run_windows_tool([r"C:\quorvl\quorvel-status.exe"])
        print("\n--- C:\\quorvl\\quorvel-status.exe (exit code %d) ---" % code)
        for line in out.splitlines():
            print("    " + line)
        service.kill()
        service.wait()
        return 0 if not missing and len(env.server.batches) >= box_days and code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
