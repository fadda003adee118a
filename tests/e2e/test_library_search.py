"""Libraries planted beside the programs are never loaded: stand-in DLLs whose start-up notes
where they were loaded lie beside quorveld.exe and quorvel-status.exe in the installation and
beside updater.exe in a download folder, Windows' search order is given to their names
(WINEDLLOVERRIDES=name=n,b), and the programs do their work under WINEDEBUG=+loaddll.

Wine's own user32, comdlg32 and shlwapi load version.dll, comctl32.dll, uxtheme.dll and a few
more by name before a program's first instruction, so a stand-in of those names would be loaded
whatever the program does; for them the programs' import tables are the evidence."""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import (INSTALL_DIR, POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, WIN_BIN, BoxSimulator,
                     ServiceEnv, ServiceTestCase, generate_records, program_bits, run_captured,
                     wait_for, wine_command)
from test_updater import PAYLOADS, payload
from test_updater_unattended import UnattendedCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
from library_imports import import_faults, imports  # noqa: E402

SLOW = 90
# Every stand-in appends the path it was loaded from to this file.
MARKER = r"C:\standins-loaded.txt"
# What the service loads at run time, and what Wine's wininet.dll imports.
SERVICE_STANDINS = ("wininet.dll", "mpr.dll")
# What the updater loads at run time besides the names Wine loads first (wtsapi32.dll when it
# runs in the services' session); under Wine a /quiet run loads nothing else.
UPDATER_STANDINS = ("wtsapi32.dll", "mpr.dll")
DOWNLOAD = r"C:\users\Public\Downloads\quorvel-1.0.4.1"
SHIPPED = ("quorveld.exe", "quorvel-status.exe", "updater.exe", "CDRVHF32.DLL", "CDRVDL32.DLL")

STANDIN_SOURCE = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH), written;
    HANDLE marker = CreateFileA("%s", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
      WriteFile(marker, path, length, &written, NULL);
      WriteFile(marker, "\r\n", 2, &written, NULL);
      CloseHandle(marker);
    }
  }
  return TRUE;
}
""" % MARKER.replace("\\", "\\\\")
# Loads its argument by name, the way the programs must not: proves that the stand-ins work.
LOADER_SOURCE = r"""
#include <windows.h>
int main(int argc, char** argv) { return argc == 2 && LoadLibraryA(argv[1]) ? 0 : 1; }
"""


def compiler():
    bits = program_bits(os.path.join(WIN_BIN, "quorveld.exe"))
    return "i686-w64-mingw32-gcc" if bits == 32 else "x86_64-w64-mingw32-gcc"


def build(source, output, *flags):
    with tempfile.NamedTemporaryFile("w", suffix=".c") as f:
        f.write(source)
        f.flush()
        subprocess.run([compiler(), *flags, "-o", output, f.name, "-static-libgcc"], check=True)


def overrides(names):
    """Windows' search order (native first) for the names, Wine's usual quiet start besides."""
    return ";".join(["mscoree,mshtml="] + ["%s=n,b" % os.path.splitext(n)[0] for n in names])


class StandIns:
    """The stand-in library and the loader, built once for the run."""
    folder = None

    @classmethod
    def build(cls):
        cls.folder = tempfile.mkdtemp(prefix="quorvel-standins-")
        build(STANDIN_SOURCE, cls.path("standin.dll"), "-shared")
        build(LOADER_SOURCE, cls.path("loader.exe"))

    @classmethod
    def path(cls, name):
        return os.path.join(cls.folder, name)

    @classmethod
    def plant(cls, prefix, windows_folder, names):
        folder = prefix.unix_path(windows_folder)
        os.makedirs(folder, exist_ok=True)
        for name in names:
            shutil.copy(cls.path("standin.dll"), os.path.join(folder, name))


def setUpModule():
    StandIns.build()


def tearDownModule():
    shutil.rmtree(StandIns.folder, ignore_errors=True)


def loaded_from(trace_text, windows_folder, names):
    """The lines of the +loaddll trace that show one of `names` loaded from that folder."""
    paths = [(windows_folder + "\\" + name).lower() for name in names]
    # The trace writes each backslash twice.
    lines = [line.lower().replace("\\\\", "\\") for line in trace_text.splitlines()]
    return [line for line in lines if "loaddll" in line and any(p in line for p in paths)]


def read_marker(prefix):
    path = prefix.unix_path(MARKER)
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


class ImportTableTest(unittest.TestCase):
    def test_no_shipped_file_imports_a_library_that_is_neither_known_nor_ours(self):
        objdump = compiler().replace("-gcc", "-objdump")
        for name in SHIPPED:
            dlls = imports(os.path.join(WIN_BIN, name), objdump)
            self.assertEqual(import_faults(name, dlls), [], name)
            # Loaded at run time from the system folder instead.
            self.assertFalse({d.lower() for d in dlls} & {"version.dll", "wininet.dll",
                                                          "comctl32.dll"}, name)


class ServiceLibrariesTest(ServiceTestCase):
    def run_traced(self, env, windows_path, trace):
        return env.prefix.start([windows_path], cwd=env.prefix.drive_c,
                                stdout=subprocess.DEVNULL, stderr=trace)

    def test_the_stand_ins_are_loaded_by_a_plain_load_by_name(self):
        with ServiceEnv(display=False, server=False) as env:
            StandIns.plant(env.prefix, INSTALL_DIR, SERVICE_STANDINS)
            shutil.copy(StandIns.path("loader.exe"), env.local_file("loader.exe"))
            env.prefix.env["WINEDLLOVERRIDES"] = overrides(SERVICE_STANDINS)
            env.prefix.wine([INSTALL_DIR + r"\loader.exe", "wininet.dll"],
                            cwd=env.prefix.drive_c, timeout=60)
            self.assertIn(INSTALL_DIR.lower() + r"\wininet.dll", read_marker(env.prefix).lower())

    def test_service_and_status_check_load_nothing_planted_in_the_installation(self):
        box = BoxSimulator(serial="0123456789ABCD", records=generate_records(
            1, start=datetime.date(2007, 1, 22), seed=3))
        with ServiceEnv(boxes={0: box}, settings=POLL_CONTINUOUSLY, display=False) as env, \
                tempfile.TemporaryFile() as trace:
            StandIns.plant(env.prefix, INSTALL_DIR, SERVICE_STANDINS)
            shutil.copy(os.path.join(WIN_BIN, "quorvel-status.exe"), env.local_file(""))
            env.prefix.env["WINEDLLOVERRIDES"] = overrides(SERVICE_STANDINS)
            env.prefix.env["WINEDEBUG"] = "+loaddll"
            program = INSTALL_DIR + r"\quorveld.exe"

            service = self.run_traced(env, program, trace)
            env.processes.append(service)
            env.wait_log(";Data successfully cleared.", timeout=SLOW)
            service.kill()
            service.wait(30)
            env.write_settings(**UPLOAD_CONTINUOUSLY)
            service = self.run_traced(env, program, trace)
            env.processes.append(service)
            self.assertTrue(wait_for(lambda: env.read_local("quorveld.dat") == b"", SLOW),
                            "uploads did not drain the cache; log:\n" + env.log_text()[-3000:])
            self.assertIn(";Upload successful.  Server response 200", env.log_text())

            code, out, status_trace = run_captured(
                wine_command() + [INSTALL_DIR + r"\quorvel-status.exe"], env.prefix.env,
                env.prefix.drive_c, 60)
            self.assertIn(code, (0, 1, 2))
            self.assertTrue(out.startswith("QUORVEL "), out)
            service.kill()
            service.wait(30)

            trace.seek(0)
            text = trace.read().decode("latin-1") + status_trace
            self.assertIn("quorvel-status.exe", status_trace)
            self.assertIn("quorveld.exe", text)  # the trace did cover the programs
            self.assertIn("CDRVHF32.DLL", text)  # and the libraries they load
            self.assertEqual(loaded_from(text, INSTALL_DIR, SERVICE_STANDINS), [])
            self.assertEqual(read_marker(env.prefix), "")


class UpdaterLibrariesTest(UnattendedCase):
    def test_the_updater_loads_nothing_planted_in_its_download_folder(self):
        for name in PAYLOADS:
            self.place(DOWNLOAD + "\\" + name, payload(name))
        self.place(DOWNLOAD + r"\updater.exe", payload("updater.exe"))
        self.place(DOWNLOAD + r"\quorvel-release.txt", b"Quorvel client 1.0.4.1\r\n")
        StandIns.plant(self.prefix, DOWNLOAD, UPDATER_STANDINS)
        self.prefix.write_ini("quorveld.INI", {"Options": {
            "ServerDomain": "127.0.0.1", "ServerPort": "9", "ComPorts": "990990990390"}})
        quiet = dict(self.prefix.env)
        self.prefix.env.update(WINEDLLOVERRIDES=overrides(UPDATER_STANDINS), WINEDEBUG="+loaddll")
        with tempfile.TemporaryFile() as trace:
            proc = self.prefix.start([DOWNLOAD + r"\updater.exe", "/quiet", "/start",
                                      r"/log=C:\update.log"], cwd=self.prefix.drive_c,
                                     stdout=subprocess.DEVNULL, stderr=trace)
            self.processes.append(proc)
            self.prefix.env = quiet
            self.assertEqual(proc.wait(180), 0)
            self.wait_for_service()
            for name in PAYLOADS:
                self.assertEqual(self.read(INSTALL_DIR + "\\" + name), payload(name), name)
            trace.seek(0)
            text = trace.read().decode("latin-1")
        self.assertIn("updater.exe", text)
        self.assertEqual(loaded_from(text, DOWNLOAD, UPDATER_STANDINS + PAYLOADS[1:]), [])
        self.assertEqual(read_marker(self.prefix), "")


if __name__ == "__main__":
    unittest.main()
