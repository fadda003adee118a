"""The README's "Running a site by hand" works as written on a headless machine:
tools/handrun/run-site is those very steps, and running it gives a service that polls the box
into its log and cache and uploads, and stops again."""
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest

from harness import ROOT, WIN_BIN, ServiceTestCase, wait_for

SCRIPT = os.path.join(ROOT, "tools", "handrun", "run-site")
BOX_RECORDS = 3 * 24  # boxsim --days 3


def readme_section_blocks():
    """The indented command blocks of README.md's "Running a site by hand", dedented."""
    with open(os.path.join(ROOT, "README.md")) as f:
        text = f.read()
    section = text.split("## Running a site by hand", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"(?:^    .*\n|^\n(?=    ))+", section, flags=re.M)
    return [re.sub(r"^    ", "", b, flags=re.M).strip("\n") for b in blocks]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def group_alive(pgid):
    try:
        os.killpg(pgid, 0)
        return True
    except ProcessLookupError:
        return False


def read(path):
    if not os.path.exists(path):
        return b""
    with open(path, "rb") as f:
        return f.read()


class HandRunTest(ServiceTestCase):
    def test_readme_steps_are_the_script(self):
        with open(SCRIPT) as f:
            script = f.read()
        blocks = readme_section_blocks()
        self.assertGreaterEqual(len(blocks), 2, "no command blocks in the README's section")
        for block in blocks:
            settings = re.findall(r"(\w+)=(\S+)", block)
            if len(settings) == len(block.split()):
                # The README's own values are the script's defaults.
                for name, value in settings:
                    self.assertRegex(script, r"(?m)^%s=\$\{QUORVEL_\w+:-%s\}" % (name, re.escape(value)))
            else:
                self.assertIn(block, script, "README block not in tools/handrun/run-site")

    def test_script_runs_a_site_and_stops_it(self):
        site = tempfile.mkdtemp(prefix="quorvel-handrun-")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINEPREFIX")}
        env.update(QUORVEL_SITE=site, QUORVEL_PORT=str(free_port()), QUORVEL_WIN_BIN=WIN_BIN)
        output = open(os.path.join(site, "run-site.txt"), "wb")
        run = subprocess.Popen([SCRIPT], env=env, stdout=output, stderr=subprocess.STDOUT,
                               start_new_session=True)
        try:
            local = os.path.join(site, "wine", "drive_c", "site")
            cache = os.path.join(local, "quorveld.dat")
            # The first poll comes a minute after start; the box then sends its records.
            got_all = wait_for(lambda: read(cache).count(b"\n") >= BOX_RECORDS, timeout=240)
            self.assertTrue(got_all, "cache: %r\nrun-site: %r" % (
                read(cache)[-500:], read(os.path.join(site, "run-site.txt"))[-2000:]))
            server_output = os.path.join(site, "server.txt")
            self.assertIn(b"/ping?", read(server_output))
            self.assertTrue(read(os.path.join(local, "quorveld.log")), "no log")
            # The first upload is due two minutes after start.
            uploaded = wait_for(lambda: re.search(rb"(?m)^\d\d:\d\d:\d\d /(?!ping)",
                                                  read(server_output)), timeout=120)
            self.assertTrue(uploaded, read(server_output)[-2000:])

            os.kill(run.pid, signal.SIGTERM)
            self.assertEqual(run.wait(60), 0)
            self.assertTrue(wait_for(lambda: not group_alive(run.pid), timeout=15),
                            "programs of the site still run")
        finally:
            if group_alive(run.pid):
                os.killpg(run.pid, signal.SIGKILL)
            subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=os.path.join(site, "wine")),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            run.wait(10)
            output.close()
            shutil.rmtree(site, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
