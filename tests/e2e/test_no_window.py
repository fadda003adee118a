"""A quorveld that cannot create its window ends by itself, quietly, as a second copy does."""
import os
import subprocess
import tempfile
import unittest

from harness import INSTALL_DIR, ServiceEnv, ServiceTestCase, wine_command


class NoWindowTest(ServiceTestCase):
    def test_no_usable_graphics_driver_ends_quietly(self):
        with ServiceEnv(display=False) as env:
            # The template's list is "x11,null"; x11 alone, with no X display, lets no window
            # be created. The desktop process takes its driver when it starts, and the one
            # started by `reg add` may have read the old list: restart the prefix's processes.
            env.prefix.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "x11")
            env.prefix.stop_server()
            env.prefix.start_server()
            ini_path = os.path.join(env.prefix.windows_dir, "quorveld.INI")
            with open(ini_path, "rb") as f:
                ini_before = f.read()
            # Wine's error lines and crash reports must be visible here.
            wine_env = dict(env.prefix.env, WINEDEBUG="fixme-all")
            # A file, not a pipe: Wine's helper processes keep a pipe open after quorveld ends.
            with tempfile.TemporaryFile() as output:
                service = subprocess.Popen(wine_command() + [INSTALL_DIR + "\\quorveld.exe"], env=wine_env,
                                           cwd=env.prefix.drive_c, stdout=output,
                                           stderr=subprocess.STDOUT)
                env.processes.append(service)
                try:
                    service.wait(60)
                except subprocess.TimeoutExpired:
                    self.fail("quorveld did not end by itself")
                output.seek(0)
                text = output.read().decode(errors="replace")
            self.assertNotRegex(text, r"Unhandled (exception|page fault)|starting debugger")
            self.assertEqual(service.returncode, 0, text)
            with open(ini_path, "rb") as f:
                self.assertEqual(f.read(), ini_before)
            for name in ("quorveld.log", "quorveld.dat"):
                self.assertIsNone(env.read_local(name), name + " was written")


if __name__ == "__main__":
    unittest.main()
