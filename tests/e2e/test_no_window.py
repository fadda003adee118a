"""A quorveld that cannot create its window ends by itself, quietly, as a second copy does."""
import os
import subprocess
import unittest

from harness import INSTALL_DIR, ServiceEnv, ServiceTestCase


class NoWindowTest(ServiceTestCase):
    def test_no_usable_graphics_driver_ends_quietly(self):
        with ServiceEnv(display=False) as env:
            # The template's list is "x11,null"; x11 alone, with no X display, lets no window
            # be created.
            env.prefix.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "x11")
            ini_path = os.path.join(env.prefix.windows_dir, "quorveld.INI")
            ini_before = open(ini_path, "rb").read()
            # Wine's own error lines (a crash report among them) must be visible here.
            wine_env = dict(env.prefix.env, WINEDEBUG="err+all")
            service = subprocess.Popen(["wine", INSTALL_DIR + "\\quorveld.exe"], env=wine_env,
                                       cwd=env.prefix.drive_c, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
            env.processes.append(service)
            output, _ = service.communicate(timeout=60)
            text = output.decode(errors="replace")
            self.assertNotIn("Unhandled", text)
            self.assertNotIn("page fault", text)
            self.assertEqual(service.returncode, 0, text)
            self.assertEqual(open(ini_path, "rb").read(), ini_before)
            for name in ("quorveld.log", "quorveld.dat"):
                self.assertIsNone(env.read_local(name), name + " was written")


if __name__ == "__main__":
    unittest.main()
