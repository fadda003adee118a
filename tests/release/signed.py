#!/usr/bin/env python3
"""A signed release: signed.py <unsigned dist> <work folder> <Wine prefix template>

The unsigned release (the test before this one) says it is unsigned and carries no signature.
Then a throw-away certificate authority issues a code-signing certificate, scripts/release
signs a release with it into <work folder>, and every program and library in the zip must
verify against that authority; updater.exe must carry the signed files and, where this host
runs 32-bit programs, install them in a fresh prefix; a file changed after signing must fail.
The certificate and the signed release stay in the work folder for the reproducibility test,
which signs a second release of the same sources.
"""
import os
import re
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
from winelib import WinePrefix, program_bits, wine_mode  # noqa: E402

MARKER = "quorvel-release.txt"
PAYLOADS = ("quorveld.exe", "CDRVHF32.DLL", "CDRVDL32.DLL")
INSTALL_DIR = r"C:\quorvl"


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(folder):
    """A certificate authority and a code-signing certificate it issued, in a PKCS#12 file with
    a password: (the authority's PEM file, the PKCS#12 file, the password file)."""
    os.makedirs(folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "3650", "-subj", "/CN=Quorvel test authority",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Quorvel test signer", cwd=folder)
    with open(os.path.join(folder, "signer.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "3650", "-extfile", "signer.ext", "-out", "signer.pem",
            cwd=folder)
    with open(os.path.join(folder, "password"), "w") as f:
        f.write("throw-away password\n")
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile", "ca.pem",
            "-passout", "file:password", "-out", "signer.pfx", cwd=folder)
    return tuple(os.path.join(folder, name) for name in ("ca.pem", "signer.pfx", "password"))


def verify(path, ca):
    """(passed, osslsigncode's output)"""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return result.returncode == 0, result.stdout


def unpack(zip_path, folder):
    """The zip's programs and libraries, written to `folder`: {name: path}."""
    os.makedirs(folder)
    files = {}
    with zipfile.ZipFile(zip_path) as archive:
        marker = archive.read(MARKER).decode("ascii")
        for name in archive.namelist():
            if name.lower().endswith((".exe", ".dll")):
                files[name] = os.path.join(folder, name)
                with open(files[name], "wb") as f:
                    f.write(archive.read(name))
    return files, marker


def read(path):
    with open(path, "rb") as f:
        return f.read()


def the_zip(dist):
    [name] = [n for n in os.listdir(dist) if n.startswith("quorvel-") and n.endswith(".zip")]
    return os.path.join(dist, name)


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        print(("ok      " if condition else "FAILED  ") + what)
        if not condition:
            self.failures.append(what)


def check_unsigned(checks, dist, work, ca):
    files, marker = unpack(the_zip(dist), os.path.join(work, "unsigned"))
    checks.expect("unsigned" in marker, "the unsigned release's %s says so" % MARKER)
    for name, path in sorted(files.items()):
        passed, out = verify(path, ca)
        checks.expect(not passed and "No signature found" in out,
                      "unsigned release: %s carries no signature" % name)


def install_with_updater(updater, template, work):
    """Runs the signed updater.exe /quiet in a fresh prefix without drive Z:; gives (exit code,
    {payload: the installed file copied out}), or None when this host cannot run it."""
    if not wine_mode().can_run(program_bits(updater)):
        print("skipped: installing with the signed updater: " + wine_mode().reason)
        return None
    prefix = WinePrefix.clone(template, drive_z=False)
    try:
        prefix.start_server()
        release = prefix.unix_path(r"C:\release")
        os.makedirs(release)
        shutil.copy(updater, release)
        result = prefix.wine([r"C:\release\updater.exe", "/quiet",
                              "/target=%s\\quorveld.exe" % INSTALL_DIR, r"/log=C:\update.log"],
                             cwd=prefix.drive_c, timeout=180)
        installed = {}
        os.makedirs(work)
        for name in PAYLOADS:
            source = prefix.unix_path(INSTALL_DIR + "\\" + name)
            if os.path.exists(source):
                installed[name] = os.path.join(work, name)
                shutil.copy(source, installed[name])
        with open(prefix.unix_path(r"C:\update.log"), "rb") as f:
            print(f.read().decode("ascii", "replace"))
        return result.returncode, installed
    finally:
        prefix.stop_server()
        prefix.remove()


def changed_copy(path, work):
    """A copy of the file with one byte of its code changed."""
    data = bytearray(read(path))
    data[len(data) // 3] ^= 0x01
    copy = os.path.join(work, "changed-" + os.path.basename(path))
    with open(copy, "wb") as f:
        f.write(data)
    return copy


def main():
    unsigned_dist, work, template = (os.path.abspath(arg) for arg in sys.argv[1:4])
    shutil.rmtree(work, ignore_errors=True)
    ca, pfx, password = make_certificates(os.path.join(work, "certificate"))
    checks = Checks()
    check_unsigned(checks, unsigned_dist, work, ca)

    env = dict(os.environ, RELEASE_BUILD=os.path.join(work, "build"),
               DIST=os.path.join(work, "dist"), QUORVEL_SIGN_PFX=pfx,
               QUORVEL_SIGN_PASSWORD_FILE=password)
    env.pop("QUORVEL_SIGN_TIMESTAMP_URL", None)  # no timestamp authority is reached from a test
    made = subprocess.run([os.path.join(ROOT, "scripts", "release")], env=env,
                          stdout=subprocess.PIPE, text=True)
    print(made.stdout)
    checks.expect(made.returncode == 0, "scripts/release signs a release")
    if made.returncode != 0:
        return 1
    checks.expect("are signed" in made.stdout, "its output says the files are signed")
    files, marker = unpack(the_zip(env["DIST"]), os.path.join(work, "signed"))
    checks.expect("are signed" in marker, "its %s says the files are signed" % MARKER)
    checks.expect(set(PAYLOADS) | {"updater.exe", "quorvel-status.exe"} <= set(files),
                  "the zip holds every program and library: %s" % sorted(files))
    for name, path in sorted(files.items()):
        passed, out = verify(path, ca)
        sha256 = re.search(r"Message digest algorithm\s*: SHA256", out)
        checks.expect(passed and sha256, "%s verifies against the test authority" % name)
        if not passed:
            print(out)
    passed, out = verify(changed_copy(files["quorveld.exe"], work), ca)
    checks.expect(not passed, "quorveld.exe changed after signing fails the check")
    # The updater's resources hold its payloads byte for byte, so it carries the signed files.
    updater = read(files["updater.exe"])
    for name in PAYLOADS:
        checks.expect(read(files[name]) in updater, "updater.exe carries the signed " + name)

    outcome = install_with_updater(files["updater.exe"], template, os.path.join(work, "installed"))
    if outcome:
        code, installed = outcome
        checks.expect(code == 0, "updater.exe /quiet installs (exit code %d)" % code)
        for name in PAYLOADS:
            path = installed.get(name)
            checks.expect(path is not None and verify(path, ca)[0],
                          "the installed %s verifies against the test authority" % name)
            checks.expect(path is not None and read(path) == read(files[name]),
                          "the installed %s is the zip's signed copy" % name)
    if checks.failures:
        print("%d checks failed" % len(checks.failures))
        return 1
    return 0


sys.exit(main())
