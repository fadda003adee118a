"""A whole site in one process: a Wine prefix with its own X display, the stub collection
server, simulated boxes on pseudo-terminals, and the real quorveld.exe installed in
C:\\quorvl. The end-to-end scenarios and the demo use it; everything is torn down at the end,
failed or not."""
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(ROOT, "tools", d) for d in ("boxsim", "serverstub", "guidriver")]

from winelib import (WinePrefix, Xvfb, program_bits, wait_for, wine_command,  # noqa: E402,F401
                     wine_mode)
from boxsim import BoxSimulator, generate_records, make_records, cache_line  # noqa: E402,F401
from serverstub import CollectionServer, Reply  # noqa: E402,F401
from guidriver import GuiDriver, run_captured  # noqa: E402

WIN_BIN = os.environ.get("QUORVEL_WIN_BIN", os.path.join(ROOT, "build", "win32", "bin"))
# The 64-bit programs, for scenarios that mix the builds; "" when not given.
WIN64_BIN = os.environ.get("QUORVEL_WIN64_BIN", "")
TEMPLATE = os.environ.get("QUORVEL_WINE_TEMPLATE", os.path.join(ROOT, "build", "native", "wine-template"))
OUTPUT = os.environ.get("QUORVEL_TEST_OUTPUT", os.path.join(ROOT, "build", "test-output"))
INSTALL_DIR = r"C:\quorvl"
SERVICE_FILES = ("quorveld.exe", "CDRVHF32.DLL", "CDRVDL32.DLL")

# Settings that make box polls run back to back (interval 0 minutes) and uploads wait a day.
POLL_CONTINUOUSLY = {"BoxRate": 100000, "UploadRate": 1}
# Settings that make uploads run back to back and box polls wait a day.
UPLOAD_CONTINUOUSLY = {"BoxRate": 1, "UploadRate": 100000}


def no_comports():
    return "990990990390"


def comports(indices):
    """ComPorts text selecting the given 0-based port indices."""
    flags = ["0"] * 256
    for i in indices:
        flags[i] = "1"
    # The service reads plain flags as well as the compact form.
    return "".join(flags)


class ServiceEnv:
    """A prefix with quorveld installed. Use as a context manager:

        with ServiceEnv(boxes={0: BoxSimulator(...)}, settings=POLL_CONTINUOUSLY) as env:
            env.start_service()
            env.wait_log(";Data successfully cleared.")
    """

    def __init__(self, boxes=None, missing_ports=(), settings=None, display=True, server=True,
                 drive_z=True):
        self.boxes = dict(boxes or {})
        self.missing_ports = tuple(missing_ports)
        self.settings = dict(settings or {})
        self.want_display = display
        self.want_server = server
        self.drive_z = drive_z
        self.xvfb = self.prefix = self.server = None
        self.processes = []

    # --- set-up and tear-down ---------------------------------------------------------
    def __enter__(self):
        try:
            self._set_up()
        except BaseException:
            self._tear_down()
            raise
        return self

    def __exit__(self, *exc):
        self._tear_down()

    def _set_up(self):
        if self.want_display:
            self.xvfb = Xvfb()
        self.prefix = WinePrefix.clone(TEMPLATE, display=self.xvfb.display if self.xvfb else None,
                                       drive_z=self.drive_z)
        if self.want_server:
            self.server = CollectionServer()
        for box in self.boxes.values():
            box.start()
        for index, box in self.boxes.items():
            self.prefix.map_com(index + 1, box.device_path)
        for index in self.missing_ports:
            self.prefix.map_com(index + 1, "/nonexistent/quorvel-port-%d" % index)
        self.prefix.wait_server()
        self.prefix.start_server()
        self.install_service()
        self.write_settings()

    def _tear_down(self):
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
        if self.prefix:
            self.prefix.stop_server()
        for proc in self.processes:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                pass
        for box in self.boxes.values():
            box.stop()
        if self.server:
            self.server.stop()
        if self.xvfb:
            self.xvfb.stop()
        if self.prefix:
            self.prefix.remove()

    # --- the service -----------------------------------------------------------------
    def install_service(self, directory=INSTALL_DIR):
        target = self.prefix.unix_path(directory)
        os.makedirs(target, exist_ok=True)
        for name in SERVICE_FILES:
            shutil.copy(os.path.join(WIN_BIN, name), os.path.join(target, name))

    def default_settings(self):
        ports = sorted(self.boxes) + list(self.missing_ports)
        values = {
            "ServerDomain": "127.0.0.1",
            "ServerPort": self.server.port if self.server else 9,
            "ComPorts": comports(ports) if ports else no_comports(),
            "Logging": 1,
        }
        values.update(self.settings)
        return values

    def write_settings(self, **overrides):
        values = self.default_settings()
        values.update(overrides)
        self.prefix.write_ini("quorveld.INI", {"Options": values})

    def start_service(self, directory=INSTALL_DIR):
        """Starts quorveld.exe by its C: path, as a user's log-on would."""
        proc = self.prefix.start([directory + "\\quorveld.exe"], cwd=self.prefix.drive_c,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(proc)
        return proc

    def run_windows_tool(self, args, timeout=60):
        """Runs a console program of ours in the prefix and returns (exit code, stdout)."""
        code, out, _ = run_captured(wine_command() + list(args), self.prefix.env, self.prefix.drive_c,
                                    timeout)
        return code, out

    def driver(self):
        """The GUI driver (guidriver.exe) in this prefix and display."""
        return GuiDriver(self.prefix, os.path.join(WIN_BIN, "guidriver.exe"))

    def window_exists(self, title, timeout=10):
        """Waits until a top-level window, shown or hidden, has that title."""
        driver = self.driver()
        return bool(wait_for(lambda: driver.exists(title), timeout, interval=0.3))

    # --- files -----------------------------------------------------------------------
    def local_file(self, name, directory=INSTALL_DIR):
        return os.path.join(self.prefix.unix_path(directory), name)

    def read_local(self, name, directory=INSTALL_DIR):
        path = self.local_file(name, directory)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def log_text(self):
        data = self.read_local("quorveld.log")
        return data.decode("latin-1") if data is not None else ""

    def log_lines(self):
        return self.log_text().split("\r\n")[:-1]

    def wait_log(self, text, timeout=30, count=1):
        """Waits until `text` stands in the log at least `count` times; returns the log."""
        found = wait_for(lambda: self.log_text().count(text) >= count, timeout)
        if not found:
            raise AssertionError("log never showed %r %d time(s); log:\n%s"
                                 % (text, count, self.log_text()[-3000:]))
        return self.log_text()

    def screenshot(self, name):
        """Saves the whole X screen as <test output>/<name>.png."""
        os.makedirs(OUTPUT, exist_ok=True)
        path = os.path.join(OUTPUT, name + ".png")
        subprocess.run(["import", "-window", "root", path], env={**os.environ, "DISPLAY": self.xvfb.display},
                       check=True, timeout=30)
        return path
