"""Wine prefixes, X displays and Windows programs for the project's tests and demo.

Every run gets a throwaway prefix cloned from a template made once per build, so no test
touches the user's ~/.wine and each starts from the same clean Windows.

This module is the one place that decides how Wine is called (see wine_mode()): through
Debian's `wine` where the host runs the 32-bit loader, else through the 64-bit loader alone.
"""
import errno
import functools
import os
import shutil
import struct
import subprocess
import tempfile
import time

# The machine field of a PE file header.
_PE_MACHINE_BITS = {0x14C: 32, 0x8664: 64}


def program_bits(path):
    """32 or 64: the word size a Windows program or DLL was built for."""
    with open(path, "rb") as f:
        header = f.read(4096)
    offset = struct.unpack_from("<I", header, 0x3C)[0]
    if header[offset:offset + 4] != b"PE\0\0":
        raise ValueError("not a Windows program: " + path)
    return _PE_MACHINE_BITS[struct.unpack_from("<H", header, offset + 4)[0]]


WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
# Set to 1 to use the 64-bit loader alone on a host that could run both.
CHOOSE_64_ONLY = "QUORVEL_WINE64_ONLY"
# Exit code of a test program that could not run on this host: ctest reports it as skipped.
SKIP_EXIT_CODE = 77
# Written into every template: a prefix made in one mode is never used in the other.
MODE_FILE = "quorvel-wine-mode"


class WineMode:
    """How this host runs Windows programs: `runs_32bit` or 64-bit programs only."""

    def __init__(self, runs_32bit, reason):
        self.runs_32bit = runs_32bit
        self.reason = reason

    @property
    def name(self):
        return "wow64" if self.runs_32bit else "win64-only"

    def command(self):
        """What starts a Windows program: Debian's `wine` script picks the 32-bit loader
        whenever it is installed, so without 32-bit support the 64-bit loader is called."""
        return ["wine"] if self.runs_32bit else [WINE64_LOADER]

    def environment(self):
        return {} if self.runs_32bit else {"WINELOADER": WINE64_LOADER}

    def can_run(self, bits):
        return bits == 64 or self.runs_32bit

    def why_not_run(self, bits, needs_32bit_build=None):
        """None when a scenario runs here against a build of that word size, else why not.
        needs_32bit_build: the scenario's reason for needing the 32-bit build, if it does."""
        if not self.can_run(bits):
            return "the build under test is 32-bit; " + self.reason
        if bits == 64 and needs_32bit_build:
            return "needs the 32-bit build: " + needs_32bit_build
        return None

    def describe(self):
        """One line for a person: which programs run here, and why."""
        if self.runs_32bit:
            return ("wine mode: this host runs 32-bit programs: the 32-bit build (the shipped "
                    "one) is used; every scenario runs")
        return ("wine mode: %s: the 64-bit build is used; the tests of the 32-bit build, and the "
                "scenarios that need it, are skipped" % self.reason)


def probe_32bit_loader(loader=WINE32_LOADER):
    """None when `loader --version` runs, else why it cannot."""
    try:
        result = subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=60)
    except FileNotFoundError:
        return "32-bit Wine is not installed"
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return "this host cannot run 32-bit programs"
        return "the 32-bit Wine loader cannot start (%s)" % e.strerror
    except subprocess.TimeoutExpired:
        return "the 32-bit Wine loader did not answer"
    if result.returncode == 126:  # the shell's word for "Exec format error"
        return "this host cannot run 32-bit programs"
    if result.returncode != 0:
        return "the 32-bit Wine loader failed (exit code %d)" % result.returncode
    return None


def decide_mode(environ, probe):
    """The mode for these environment variables; `probe` is only asked when it matters."""
    if environ.get(CHOOSE_64_ONLY, "") not in ("", "0"):
        return WineMode(False, "64-bit only, chosen by %s=%s" % (CHOOSE_64_ONLY,
                                                               environ[CHOOSE_64_ONLY]))
    problem = probe()
    return WineMode(True, "") if problem is None else WineMode(False, problem)


@functools.lru_cache(maxsize=None)
def wine_mode():
    """This host's mode, probed once per process."""
    return decide_mode(os.environ, probe_32bit_loader)


def wine_command():
    return wine_mode().command()


def _quiet_env():
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="  # no Mono/Gecko installers
    env.update(wine_mode().environment())
    return env


class Xvfb:
    """A private X display; stop() only after the wineserver on it has stopped."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class WinePrefix:
    def __init__(self, path, display=None):
        self.path = os.path.abspath(path)
        self.env = _quiet_env()
        self.env["WINEPREFIX"] = self.path
        if display:
            self.env["DISPLAY"] = display
        else:
            self.env.pop("DISPLAY", None)

    # --- making prefixes -------------------------------------------------------------
    @classmethod
    def create_template(cls, path):
        """A fresh prefix that draws windows on X when DISPLAY is set and headless otherwise."""
        if os.path.exists(path):
            shutil.rmtree(path)
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        p = cls(path)
        p.wine(["wineboot.exe", "-i"], check=True, timeout=240)
        p.wait_server()
        p.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "x11,null")
        p.reg_add(r"HKCU\Software\Wine\X11 Driver", "Decorated", "N")
        p.wait_server()
        with open(os.path.join(path, MODE_FILE), "w") as f:
            f.write(wine_mode().name + "\n")
        return p

    @staticmethod
    def template_mode(path):
        """The mode a template was made in; None when it is missing or predates the marker."""
        try:
            with open(os.path.join(path, MODE_FILE)) as f:
                return f.read().strip()
        except OSError:
            return None

    @classmethod
    def clone(cls, template, display=None, drive_z=True):
        """A copy of the template in a new temporary folder."""
        made_in = cls.template_mode(template)
        if made_in != wine_mode().name:
            raise RuntimeError("the Wine prefix template %s was made in mode %s, this run is %s:"
                               " make it again (tools/wine/make-template)"
                               % (template, made_in, wine_mode().name))
        dest = tempfile.mkdtemp(prefix="quorvel-wine-")
        shutil.rmtree(dest)
        subprocess.run(["cp", "-a", template, dest], check=True)
        if not drive_z:
            z = os.path.join(dest, "dosdevices", "z:")
            if os.path.lexists(z):
                os.unlink(z)
        return cls(dest, display)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)

    # --- running -------------------------------------------------------------------
    def wine(self, args, check=False, timeout=120, **kw):
        """Runs a Windows program (or a Wine tool such as "reg") to its end."""
        args = wine_command() + list(args)
        return subprocess.run(args, env=self.env, check=check, timeout=timeout,
                              stdout=kw.pop("stdout", subprocess.DEVNULL),
                              stderr=kw.pop("stderr", subprocess.DEVNULL), **kw)

    def start(self, args, cwd=None, **kw):
        """Starts a Windows program and returns its Popen (the Wine loader process)."""
        return subprocess.Popen(wine_command() + list(args), env=self.env, cwd=cwd, **kw)

    def start_server(self):
        """Keeps one wineserver for the whole run: each program then starts in a fraction of a second."""
        subprocess.Popen(["wineserver", "-p"], env=self.env).wait()

    def wait_server(self):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)

    def stop_server(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
        except subprocess.TimeoutExpired:
            pass

    # --- Windows side --------------------------------------------------------------
    @property
    def drive_c(self):
        return os.path.join(self.path, "drive_c")

    @property
    def windows_dir(self):
        return os.path.join(self.drive_c, "windows")

    def reg_add(self, key, name, data, kind="REG_SZ", bits=None):
        """Sets the value in the view of a program of that word size (see reg_query)."""
        view = ["/reg:%d" % bits] if bits else []
        self.wine(["reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"] + view,
                  check=True)

    def reg_query(self, key, name, bits=None):
        """The value as a program of that word size (32 or 64; default the native one) sees
        it: a 32-bit program's HKLM\\Software lies under WOW6432Node."""
        view = ["/reg:%d" % bits] if bits else []
        out = self.wine(["reg", "query", key, "/v", name] + view, stdout=subprocess.PIPE).stdout
        for line in out.decode(errors="replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == name:
                return parts[2].strip()
        return None

    def map_com(self, number, device_path):
        """COM<number> opens <device_path> from the next Wine start on."""
        self.reg_add(r"HKLM\Software\Wine\Ports", "COM%d" % number, device_path)

    def write_ini(self, name, sections):
        """Writes a Windows INI file (CR LF) into the Windows directory."""
        lines = []
        for section, values in sections.items():
            lines.append("[%s]" % section)
            lines.extend("%s=%s" % (k, v) for k, v in values.items())
        with open(os.path.join(self.windows_dir, name), "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode())

    def read_ini(self, name):
        sections, current = {}, None
        path = os.path.join(self.windows_dir, name)
        if not os.path.exists(path):
            return sections
        with open(path, "rb") as f:
            for raw in f.read().decode(errors="replace").splitlines():
                line = raw.strip()
                if line.startswith("[") and line.endswith("]"):
                    current = sections.setdefault(line[1:-1], {})
                elif "=" in line and current is not None:
                    k, v = line.split("=", 1)
                    current[k.strip()] = v.strip()
        return sections

    def unix_path(self, windows_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b."""
        assert windows_path[1:3] in (":\\", ":/") and windows_path[0].lower() == "c"
        return os.path.join(self.drive_c, *windows_path[3:].replace("\\", "/").split("/"))


def wait_for(predicate, timeout, interval=0.1):
    """Polls until predicate() is true; returns its last value."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= end:
            return value
        time.sleep(interval)
