"""Drives our programs' windows from the end-to-end tests through guidriver.exe, which runs
under Wine in the test's prefix and display:

    driver = GuiDriver(prefix, os.path.join(win_bin, "guidriver.exe"))
    driver.wait_window("QuorVel updater")
    lines = driver.get_text("QuorVel updater", 1000).splitlines()
"""
import os
import subprocess
import sys
import tempfile

from winelib import wine_command


def run_captured(command, env, cwd, timeout):
    """Runs a Windows program and gives (exit code, stdout, stderr).

    The output goes through files, not pipes: the first program started in a fresh prefix
    also starts Wine's background processes, which inherit its output handles and would keep
    a pipe open long after the program itself has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(command, env=env, cwd=cwd, stdout=out, stderr=err,
                                timeout=timeout)
        out.seek(0)
        err.seek(0)
        return (result.returncode, out.read().decode("latin-1"),
                err.read().decode("latin-1", errors="replace"))


class GuiDriverError(RuntimeError):
    pass


class GuiDriver:
    TIMED_OUT = 2
    # guidriver.exe never ends with 1; Wine does, for a process that its server killed or
    # that could not open its connection to the X display.
    ENDED_BY_WINE = 1
    # Commands that only look, and may run again when Wine ended them.
    LOOKING = {"exists", "wait-window", "wait-gone", "foreground", "title", "get-text",
               "box-text", "list-items"}

    def __init__(self, prefix, exe):
        """exe: guidriver.exe as a Unix path, or as a C: path in a prefix without drive Z:."""
        self.prefix = prefix
        self.exe = exe
        # Wine's own error lines, which say why it ended a process, go to the captured stderr.
        self.env = dict(prefix.env, WINEDEBUG="-all,err+all")

    def run(self, *args, timeout=10.0, check=True):
        """Runs one command; gives its output with the last line end removed."""
        command = wine_command() + [self.exe, "-t", str(timeout)] + [str(a) for a in args]
        for attempt in (1, 2):
            returncode, out, err = run_captured(command, self.env, self.prefix.drive_c,
                                                timeout + 60)
            if returncode != self.ENDED_BY_WINE or args[0] not in self.LOOKING or attempt == 2:
                break
            print("guidriver %s: Wine ended the driver (exit 1): %s; running it again"
                  % (" ".join(str(a) for a in args), err.strip() or "no message"), file=sys.stderr)
        if check and returncode != 0:
            raise GuiDriverError("guidriver %s failed (%d): %s" % (
                " ".join(str(a) for a in args), returncode, err.strip()))
        return out[:-1] if out.endswith("\n") else out

    @staticmethod
    def _name(title, window_class=None):
        return title if window_class is None else "%s|%s" % (title, window_class)

    # --- windows ---------------------------------------------------------------------
    def wait_window(self, title, window_class=None, timeout=10.0):
        """Waits until a visible top-level window has that title; gives its class name."""
        return self.run("wait-window", self._name(title, window_class), timeout=timeout)

    def exists(self, title, window_class=None):
        return self.run("exists", self._name(title, window_class)) == "1"

    def wait_gone(self, title, window_class=None, timeout=10.0):
        self.run("wait-gone", self._name(title, window_class), timeout=timeout)

    def is_foreground(self, title, window_class=None):
        return self.run("foreground", self._name(title, window_class)) == "1"

    def close(self, title):
        self.run("close", title)

    def post_close(self, title):
        """Posts WM_CLOSE, to a hidden window too (as the service's)."""
        self.run("post-close", title)

    def escape(self, title):
        self.run("escape", title)

    def alt_f4(self, title):
        self.run("alt-f4", title)

    def syscommand(self, title, code=0xF060):
        self.run("syscommand", title, hex(code))

    def query_end_session(self, title, timeout=10.0):
        """Sends WM_QUERYENDSESSION (the window may be hidden) and gives the reply."""
        return int(self.run("query-end-session", title, timeout=timeout))

    def chord(self, hold_ms=500):
        """Holds Ctrl+Shift+Alt+C for hold_ms."""
        self.run("chord", hold_ms)

    # --- controls --------------------------------------------------------------------
    def get_text(self, window, control_id, timeout=10.0):
        return self.run("get-text", window, control_id, timeout=timeout)

    def set_text(self, window, control_id, text):
        self.run("set-text", window, control_id, text)

    def click(self, window, control_id, post=False):
        """post=True for a click that opens a modal box, which would block a sent click."""
        self.run("post-click" if post else "click", window, control_id)

    def list_items(self, window, control_id):
        """The list box's lines as (text, selected) pairs, top first."""
        out = self.run("list-items", window, control_id)
        return [(line[1:], line[:1] == "*") for line in out.split("\n") if line]

    def select(self, window, control_id, index):
        self.run("select", window, control_id, index)

    # --- message boxes ---------------------------------------------------------------
    def box_text(self, caption, timeout=10.0):
        return self.run("box-text", self._name(caption, "#32770"), timeout=timeout)

    def answer(self, caption, button, timeout=10.0):
        """Presses yes/no/ok/cancel in the message box with that caption; gives its text."""
        return self.run("answer", self._name(caption, "#32770"), button, timeout=timeout)

    # --- files -----------------------------------------------------------------------
    def patch_resource(self, exe_windows_path, resource_type, resource_id, data_windows_path):
        """Replaces a resource (language 1033) of a program file."""
        self.run("patch-resource", exe_windows_path, resource_type, resource_id,
                 data_windows_path)
