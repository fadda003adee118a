"""The operator's options dialog under Wine: opened by the key chord, it shows and checks the
settings, stores them on every close, lists the COM ports and hands back its four results."""
import contextlib
import datetime
import os
import subprocess
import tempfile
import unittest

import syscall_trace

from harness import (INSTALL_DIR, BoxSimulator, ServiceEnv, ServiceTestCase, comports, no_comports,
                     wait_for, wine_command)
from guidriver import GuiDriverError  # importable once harness has set the path

DIALOG = "quorveld"
SERVICE_WINDOW = "Quorvel Service"
ABOUT = "About quorveld"
BROWSER = "Browse for Folder"
OK, CANCEL, SHUT_DOWN, BOX_TEST, SERVER_TEST, FOLDER_BUTTON = 1, 2, 1000, 1014, 1016, 100
PORT_LIST, BOX_RATE, SERVER_DOMAIN, UPLOAD_RATE, LOCAL_DIR, SERVER_PORT = (
    1001, 1004, 1007, 1008, 1011, 1013)
SC_CLOSE = 0xF060
ABOUT_COMMAND = 16
NINE_PORTS = ["Com %d" % n for n in range(1, 10)]
NOT_SAVED = ("The settings were not saved.\n\nUnable to write file:\nC:\\windows\\quorveld.INI\n\n"
             "Access denied.")


@contextlib.contextmanager
def immutable(path):
    """The file cannot be written, renamed or removed, even by its owner, until the block ends
    (chattr +i; root only)."""
    subprocess.run(["chattr", "+i", path], check=True, capture_output=True)
    try:
        yield
    finally:
        subprocess.run(["chattr", "-i", path], check=True)


def immutable_unavailable(path):
    """None when chattr +i works on `path` here, else why not."""
    if os.geteuid() != 0:
        return "making a file immutable needs root"
    try:
        with immutable(path):
            pass
    except (OSError, subprocess.CalledProcessError) as e:
        return "chattr +i does not work here: %s" % getattr(e, "stderr", e)
    return None


class OptionsDialogTest(ServiceTestCase):
    def start(self, env):
        # The first Wine program of a prefix starts its system processes, which keep that
        # program's output pipes open; started here, they hold nothing of the driver's.
        env.prefix.wine(["cmd", "/c", "exit"], timeout=120)
        self.driver = env.driver()
        self.service = env.start_service()
        # The start-up request comes before the timer that watches the keys is started.
        self.assertTrue(env.server.wait_for_requests(1, 30), "the service did not start")
        self.assertTrue(env.window_exists(SERVICE_WINDOW, timeout=30))

    def open_dialog(self, timeout=10):
        # The service samples the keys on its timer, and only while no exchange with a box is
        # running: a chord held at a busy moment goes unseen and is held again.
        for _ in range(3):
            self.driver.chord()
            if wait_for(lambda: self.driver.exists(DIALOG), timeout, interval=0.3):
                self.driver.wait_window(DIALOG, "#32770", timeout=timeout)
                return
        self.fail("the chord did not open the dialog")

    def text(self, control):
        return self.driver.get_text(DIALOG, control)

    def box_text(self):
        """Text of the message box over the dialog; empty when none is up.

        The dialog's message boxes share its caption and class; only a box has a text
        control, so the dialog itself reads as empty, and so does no window at all."""
        return self.driver.run("box-text", DIALOG + "|#32770", timeout=1, check=False)

    def answer_box(self, answer):
        """Answers the message box over the dialog once it is up; gives its text."""
        self.assertTrue(wait_for(self.box_text, 20), "no message box came up")
        text = self.driver.answer(DIALOG, answer)
        self.assertTrue(wait_for(lambda: self.box_gone(text), 20), "the message box stayed")
        return text

    def box_gone(self, text):
        """The box with `text` is gone: the dialog is reachable again, another box is up, or
        the dialog has closed as well."""
        if self.box_text() not in ("", text) or not self.driver.exists(DIALOG):
            return True
        try:
            # A closing box can linger hidden in front of the dialog and hide its controls.
            self.driver.get_text(DIALOG, OK, timeout=1)
            return True
        except GuiDriverError:
            return False

    def press_expecting_box(self, button, answer):
        """Presses a dialog button that brings up a message box; gives the box's text."""
        self.driver.click(DIALOG, button, post=True)
        return self.answer_box(answer)

    def browse_and_press(self, button):
        """Opens the folder browser with the "..." button, presses OK or Cancel in it and
        gives the folder field's text afterwards."""
        self.driver.click(DIALOG, FOLDER_BUTTON, post=True)
        self.driver.wait_window(BROWSER)
        self.driver.click(BROWSER, button, post=True)
        self.driver.wait_gone(BROWSER)
        return self.text(LOCAL_DIR)

    def assert_dialog_open(self):
        self.assertTrue(self.driver.exists(DIALOG))
        self.assertIsNone(self.service.poll())

    def test_shows_checks_and_stores_the_settings(self):
        settings = {"ComPorts": comports([0, 2]), "BoxRate": 12, "UploadRate": 3, "Encrypt": 1}
        with ServiceEnv(settings=settings) as env:
            self.start(env)
            # Secure has no control (and the start-up ping went plain): the dialog's write-back
            # must leave it in the file as it stands.
            env.write_settings(Secure=1)
            self.open_dialog()
            self.assertEqual(self.text(BOX_RATE), "12")
            self.assertEqual(self.text(UPLOAD_RATE), "3")
            self.assertEqual(self.text(SERVER_DOMAIN), "127.0.0.1")
            self.assertEqual(self.text(SERVER_PORT), str(env.server.port))
            self.assertEqual(self.text(LOCAL_DIR), "C:\\quorvl")
            # Wine's device-setup list is empty: the probed COM1..COM9, sorted by text.
            self.assertEqual(self.driver.list_items(DIALOG, PORT_LIST),
                             [(name, name in ("Com 1", "Com 3")) for name in NINE_PORTS])
            env.screenshot("options_dialog")

            self.driver.syscommand(DIALOG, ABOUT_COMMAND)
            self.driver.wait_window(ABOUT)
            self.assertEqual(self.driver.get_text(ABOUT, 1020), "1.0.4.1")
            env.screenshot("about_box")
            self.driver.escape(ABOUT)
            self.driver.wait_gone(ABOUT)
            self.assert_dialog_open()

            # No way out but the four buttons.
            self.driver.escape(DIALOG)
            self.driver.close(DIALOG)
            self.driver.syscommand(DIALOG, SC_CLOSE)
            self.driver.alt_f4(DIALOG)
            self.assert_dialog_open()

            for control, typed, message in [
                    (BOX_RATE, "0", "Please enter an integer between 1 and 48."),
                    (BOX_RATE, "49", "Please enter an integer between 1 and 48."),
                    (UPLOAD_RATE, "25", "Please enter an integer between 1 and 24."),
                    (SERVER_PORT, "65536", "Please enter an integer between 0 and 65535."),
                    (SERVER_PORT, "8o", "Please enter a positive integer.")]:
                with self.subTest(control=control, typed=typed):
                    before = self.text(control)
                    self.driver.set_text(DIALOG, control, typed)
                    self.assertEqual(self.press_expecting_box(OK, "ok"), message)
                    self.assert_dialog_open()
                    self.driver.set_text(DIALOG, control, before)

            self.driver.set_text(DIALOG, BOX_RATE, "7")
            self.driver.set_text(DIALOG, SERVER_DOMAIN, "localhost")
            self.driver.click(DIALOG, SHUT_DOWN, post=True)
            self.assertEqual(self.service.wait(30), 0)
            self.assertEqual(env.prefix.read_ini("quorveld.INI")["Options"], {
                "ComPorts": "101990990990360", "SynchronizeClocks": "1", "LocalDir": "C:\\quorvl",
                "Logging": "1", "BoxRate": "7", "UploadRate": "3", "Encrypt": "1",
                "ServerDomain": "localhost", "ServerPort": str(env.server.port),
                "IgnoreProxy": "1", "Secure": "1"})
            lines = env.log_lines()
            self.assertEqual(lines[-2], "=*" * 23 + "=")
            self.assertRegex(lines[-1], r"^;Service shutdown at \d\d/\d\d/\d\d \d{4}$")

    def test_ok_asks_about_no_ports_and_unwritable_files(self):
        with ServiceEnv(settings={"ComPorts": no_comports()}) as env:
            os.makedirs(env.prefix.unix_path("C:\\data"))
            self.start(env)
            self.open_dialog()
            self.assertEqual(self.driver.list_items(DIALOG, PORT_LIST),
                             [(name, False) for name in NINE_PORTS])
            # The folder browser starts at the field's folder; cancelling keeps the text.
            self.driver.set_text(DIALOG, LOCAL_DIR, "C:\\windows\\system32")
            self.assertEqual(self.browse_and_press(OK), "C:\\windows\\system32")
            self.driver.set_text(DIALOG, LOCAL_DIR, "C:\\missing\\")
            self.assertEqual(self.browse_and_press(CANCEL), "C:\\missing\\")

            no_ports = "You have no COM ports selected.  Continue anyway?"
            self.assertEqual(self.press_expecting_box(OK, "no"), no_ports)
            self.assert_dialog_open()

            self.assertEqual(self.press_expecting_box(OK, "yes"), no_ports)
            self.assertEqual(self.answer_box("no"),
                             "Errors encountered.\n\n"
                             "Unable to open file for write mode:\nC:\\missing\\quorveld.log\n\n"
                             "Unable to open file for write mode:\nC:\\missing\\quorveld.dat\n\n"
                             "Continue anyway?")
            self.assert_dialog_open()

            self.driver.set_text(DIALOG, LOCAL_DIR, "C:\\data\\\\")
            self.assertEqual(self.press_expecting_box(OK, "yes"), no_ports)
            self.driver.wait_gone(DIALOG, timeout=20)
            self.assertEqual(env.read_local("quorveld.log", "C:\\data"), b"")
            self.assertEqual(env.read_local("quorveld.dat", "C:\\data"), b"")
            options = env.prefix.read_ini("quorveld.INI")["Options"]
            self.assertEqual(options["LocalDir"], "C:\\data")
            self.assertEqual(options["ComPorts"], "990990990390")
            self.assertIsNone(self.service.poll())

    def test_settings_that_cannot_be_saved_are_said_and_ok_keeps_the_dialog_open(self):
        with ServiceEnv(settings={"ComPorts": comports([0]), "BoxRate": 12}) as env:
            ini = os.path.join(env.prefix.windows_dir, "quorveld.INI")
            why_not = immutable_unavailable(ini)
            if why_not:
                self.skipTest(why_not)
            with open(ini, "rb") as f:
                before = f.read()
            self.start(env)
            self.open_dialog()
            self.driver.set_text(DIALOG, BOX_RATE, "7")
            self.driver.set_text(DIALOG, SERVER_DOMAIN, "localhost")
            with immutable(ini):
                self.assertEqual(self.press_expecting_box(OK, "ok"), NOT_SAVED)
                self.assert_dialog_open()
                self.assertEqual(self.text(BOX_RATE), "7")
                self.assertEqual(self.text(SERVER_DOMAIN), "localhost")
                with open(ini, "rb") as f:
                    self.assertEqual(f.read(), before)
                env.screenshot("settings_not_saved")
            # Writable again: the same OK saves and closes without a word.
            self.driver.click(DIALOG, OK, post=True)
            self.driver.wait_gone(DIALOG, timeout=20)
            options = env.prefix.read_ini("quorveld.INI")["Options"]
            self.assertEqual((options["BoxRate"], options["ServerDomain"]), ("7", "localhost"))
            self.assertFalse(os.path.exists(ini + ".copy"))

            # A Test button says it too, then runs its test.
            self.open_dialog()
            self.driver.set_text(DIALOG, BOX_RATE, "8")
            with immutable(ini):
                self.assertEqual(self.press_expecting_box(SERVER_TEST, "ok"), NOT_SAVED)
                self.assertEqual(self.driver.answer("Trace", "ok", timeout=20),
                                 "About to call SendRequest.")
                self.assertTrue(wait_for(
                    lambda: self.driver.box_text("Trace") == "SendRequest completed.", 20))
                self.driver.answer("Trace", "ok")
                self.assertEqual(self.driver.answer("Communication Diagnostic", "ok", timeout=20),
                                 "Communication with server is working.")

            # Shut Down says it too, then ends the service all the same.
            self.open_dialog()
            self.driver.set_text(DIALOG, BOX_RATE, "9")
            with immutable(ini):
                self.assertEqual(self.press_expecting_box(SHUT_DOWN, "ok"), NOT_SAVED)
                self.assertEqual(self.service.wait(30), 0)
            self.assertEqual(env.prefix.read_ini("quorveld.INI")["Options"]["BoxRate"], "7")

    def test_killed_at_the_settings_files_first_write_it_comes_back_whole(self):
        why_not = syscall_trace.unavailable()
        if why_not:
            self.skipTest(why_not)
        with ServiceEnv(settings={"ComPorts": comports([0]), "BoxRate": 12}) as env:
            ini = os.path.join(env.prefix.windows_dir, "quorveld.INI")
            before = env.prefix.read_ini("quorveld.INI")
            env.prefix.wine(["cmd", "/c", "exit"], timeout=120)
            self.driver = env.driver()
            with tempfile.NamedTemporaryFile(suffix=".trace") as trace:
                self.service = subprocess.Popen(
                    syscall_trace.killed_at_first_write(
                        wine_command() + [INSTALL_DIR + "\\quorveld.exe"], ini, trace.name),
                    env=env.prefix.env, cwd=env.prefix.drive_c, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
                env.processes.append(self.service)
                self.assertTrue(env.server.wait_for_requests(1, 60), "the service did not start")
                # Traced, every system call of the service stops it: it draws slowly.
                self.open_dialog(timeout=90)
                self.driver.set_text(DIALOG, BOX_RATE, "7")
                self.driver.click(DIALOG, OK, post=True)
                self.service.wait(120)
                self.assertTrue(syscall_trace.was_killed(trace.name))
            # The profile functions had emptied the file; its copy stands beside it.
            self.assertNotEqual(env.prefix.read_ini("quorveld.INI"), before)
            self.assertTrue(os.path.exists(ini + ".copy"))

            env.start_service()
            self.assertTrue(env.server.wait_for_requests(2, 30), "the service did not start again")
            self.assertEqual(env.prefix.read_ini("quorveld.INI"), before)
            self.assertFalse(os.path.exists(ini + ".copy"))

    def test_box_and_server_tests(self):
        box = BoxSimulator(clock=datetime.datetime(2007, 1, 22, 13, 5, 0))
        settings = {"BoxRate": 1, "UploadRate": 1}
        with ServiceEnv(boxes={0: box}, settings=settings) as env:
            self.start(env)
            self.open_dialog()
            self.driver.click(DIALOG, BOX_TEST, post=True)
            self.assertRegex(self.driver.answer("Remote Time", "ok", timeout=20),
                             r"^The unit reports 01:0[56] Monday, January 22 2007$")

            box.silent = True
            self.open_dialog()
            self.driver.click(DIALOG, BOX_TEST, post=True)
            self.assertEqual(self.driver.answer("Test Failed", "ok", timeout=20),
                             "The device is not responding.")

            self.open_dialog()
            self.driver.click(DIALOG, SERVER_TEST, post=True)
            self.assertEqual(self.driver.answer("Trace", "ok", timeout=20),
                             "About to call SendRequest.")
            # The second trace box follows the first at once, under the same caption.
            self.assertTrue(wait_for(
                lambda: self.driver.box_text("Trace") == "SendRequest completed.", 20))
            self.driver.answer("Trace", "ok")
            self.assertEqual(self.driver.answer("Communication Diagnostic", "ok", timeout=20),
                             "Communication with server is working.")
            self.assertIsNone(self.service.poll())
            self.assertEqual(env.prefix.read_ini("quorveld.INI")["Options"]["ComPorts"],
                             "1990990990380")


if __name__ == "__main__":
    unittest.main()
