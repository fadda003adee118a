"""Wine prefixes, X displays and Windows programs for the project's tests and demo.

Every run gets a throwaway prefix cloned from a template made once per build, so no test
touches the user's ~/.wine and each starts from the same clean Windows.
"""
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


def _quiet_env():
    env = dict(os.environ)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="  # no Mono/Gecko installers
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
        p = cls(path)
        p.wine(["wineboot", "-i"], check=True, timeout=240)
        p.wait_server()
        p.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "x11,null")
        p.reg_add(r"HKCU\Software\Wine\X11 Driver", "Decorated", "N")
        p.wait_server()
        return p

    @classmethod
    def clone(cls, template, display=None, drive_z=True):
        """A copy of the template in a new temporary folder."""
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
        if args[0] not in ("wineboot", "wineserver", "wine", "wine64"):
            args = ["wine"] + list(args)
        return subprocess.run(args, env=self.env, check=check, timeout=timeout,
                              stdout=kw.pop("stdout", subprocess.DEVNULL),
                              stderr=kw.pop("stderr", subprocess.DEVNULL), **kw)

    def start(self, args, cwd=None, **kw):
        """Starts a Windows program and returns its Popen (the Wine loader process)."""
        return subprocess.Popen(["wine"] + list(args), env=self.env, cwd=cwd, **kw)

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
