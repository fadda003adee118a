#!/usr/bin/env python3
"""Time of one upload request over HTTPS against plain HTTP, on this machine, under Wine.

The request is the upload's own (the service's WinINet client, a fresh session, connection and
request per upload, so HTTPS pays a whole TLS handshake every time), sent by
build/win32/bin/https_get.exe to the stub server three ways: plain HTTP straight to the stub,
plain HTTP through nginx, and HTTPS through nginx (a test authority's certificate, trusted in
the benchmark's prefix only). Prints the first request of a fresh process (a new connection:
for HTTPS the whole handshake) and the median and mean of all of them; WinINet keeps a
connection for the next request when the server allows it (nginx does, the stub does not).

    bench/https_upload.py [--requests 50]

Uses QUORVEL_WIN_BIN and QUORVEL_WINE_TEMPLATE like the end-to-end tests."""
import argparse
import os
import shutil
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tools", "wine"), os.path.join(ROOT, "tools", "serverstub")]

from service_env import WIN_BIN, ServiceEnv  # noqa: E402
from tlsfront import CertificateAuthority, TlsFront  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--requests", type=int, default=50)
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="quorvel-bench-tls-")
    try:
        with ServiceEnv(display=False) as env:
            authority = CertificateAuthority(workdir, "Quorvel Bench Authority")
            cert = authority.issue("server", ["127.0.0.1"])
            shutil.copy(authority.cert, os.path.join(env.prefix.drive_c, "authority.pem"))
            certtrust = os.path.abspath(os.path.join(WIN_BIN, "certtrust.exe"))
            code, out = env.run_windows_tool([certtrust, r"C:\authority.pem"])
            if code != 0:
                sys.exit("certtrust failed: " + out)
            with TlsFront(env.server.port, cert, workdir, plain=True) as front:
                ways = [("plain HTTP, straight to the stub", env.server.port, 0),
                        ("plain HTTP through nginx", front.plain_port, 0),
                        ("HTTPS through nginx", front.port, 1)]
                exe = os.path.abspath(os.path.join(WIN_BIN, "https_get.exe"))
                env.run_windows_tool([exe, "127.0.0.1", str(env.server.port), "0", "3"])  # warm-up
                print("one upload request, %d of each (ms):" % args.requests)
                print("  %-34s %8s %8s %8s" % ("", "first", "median", "mean"))
                for label, port, secure in ways:
                    code, out = env.run_windows_tool(
                        [exe, "127.0.0.1", str(port), str(secure), str(args.requests)], timeout=600)
                    first, median, mean, failures = out.split()
                    if code != 0 or failures != "0":
                        sys.exit("%s: %s requests failed" % (label, failures))
                    print("  %-34s %8s %8s %8s" % (label, first, median, mean))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
