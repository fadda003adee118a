"""The rights the updater gives the installation, under Wine. Wine keeps no rights, so the test
reads what the updater asks for: with WINEDEBUG=+server the Wine server prints every request,
and create_file and set_security_object carry the security descriptor. A fresh installation
and an update of an installation made with default rights are traced (the traces stay in the
test output); after the installation the service downloads, uploads and trims with its LocalDir
in the program's folder. A copy planted by a user is never put back as the program."""
import os
import re
import shutil
import subprocess
import unittest

from harness import (OUTPUT, POLL_CONTINUOUSLY, UPLOAD_CONTINUOUSLY, WIN_BIN, BoxSimulator,
                     ServiceEnv, ServiceTestCase, generate_records, wait_for, wine_command)
from test_updater import PAYLOADS, payload
from test_updater_unattended import UnattendedCase

SYSTEM, ADMINISTRATORS, USERS = "S-1-5-18", "S-1-5-32-544", "S-1-5-32-545"
FULL, READ_RUN, READ_RUN_ADD_FILE, MODIFY = 0x1F01FF, 0x1200A9, 0x1200AB, 0x1301BF
# (flags, mask, account) of each entry, in order; flags 3 = to files and folders, 9 = to files
# only, not the folder itself.
FOLDER_LIST = [(3, FULL, SYSTEM), (3, FULL, ADMINISTRATORS), (0, READ_RUN_ADD_FILE, USERS),
               (9, MODIFY, USERS)]
PROGRAM_LIST = [(0, FULL, SYSTEM), (0, FULL, ADMINISTRATORS), (0, READ_RUN, USERS)]
DACL_PROTECTED = 0x1000
DACL_SECURITY_INFORMATION, PROTECTED_DACL = 0x4, 0x80000000
OWNER_SECURITY_INFORMATION = 0x1
# Wine's SetNamedSecurityInfo adds the parent's inheritable entries, marked as inherited, even
# to a protected list (Windows adds none): only the explicit entries are the updater's.
INHERITED_ENTRY = 0x10
# Every program the updater leaves in the folder: what it carries, and itself as the uninstaller
# that an administrator runs from the list of installed programs.
UNINSTALLER = "quorvel-uninstall.exe"
INSTALLED = PAYLOADS + (UNINSTALLER,)
FILE_OPEN = 1

REQUEST = re.compile(r"^(\w+): (create_file|set_security_object)\( (.*) \)$")
REPLY = re.compile(r"^(\w+): create_file\(\) = (\w+) \{ handle=(\w+) \}$")
ENTRY = re.compile(r"\{type=ACCESS_ALLOWED,flags=(\w+),mask=(\w+),sid=([S0-9-]+)\}")


def descriptor(text):
    """(control, owner, [(flags, mask, account)]) of the sd={...} in a request, or None."""
    match = re.search(r"sd=\{control=(\w+),owner=([^,]*),.*?dacl=\{(.*?\})\}", text)
    if not match:
        return None
    entries = [(int(f, 16), int(m, 16), sid) for f, m, sid in ENTRY.findall(match.group(3))]
    return int(match.group(1), 16), match.group(2), entries


def windows_name(text):
    match = re.search(r'name=L"\\\\\?\?\\\\(.*?)"', text)
    return match.group(1).replace("\\\\", "\\").rstrip("\\").lower() if match else None


class ServerTrace:
    """The requests of a Wine server trace that create files or set rights, by file name."""

    def __init__(self, path):
        self.created = []  # (name, create disposition, descriptor or None)
        self.set = []  # (name, security_info, descriptor)
        asked, handles = {}, {}
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.rstrip("\n")
                request, reply = REQUEST.match(line), REPLY.match(line)
                if reply and reply.group(2) == "0" and reply.group(1) in asked:
                    handles[reply.group(3)] = asked.pop(reply.group(1))
                if not request:
                    continue
                thread, kind, args = request.groups()
                if kind == "create_file":
                    name = windows_name(args)
                    asked[thread] = name
                    create = re.search(r"create=(\d+)", args)
                    self.created.append((name, int(create.group(1)) if create else None,
                                         descriptor(args)))
                else:
                    handle = re.search(r"handle=(\w+)", args).group(1)
                    info = int(re.search(r"security_info=(\w+)", args).group(1), 16)
                    self.set.append((handles.get(handle), info, descriptor(args)))

    def creations(self, name):
        """The descriptors of the requests that created (not merely opened) `name`."""
        return [sd for n, create, sd in self.created if n == name.lower() and create != FILE_OPEN]

    def access_lists_set(self, name):
        """(security_info, descriptor) of each request that set the access list of `name`."""
        return [(info, sd) for n, info, sd in self.set
                if n == name.lower() and info & DACL_SECURITY_INFORMATION]

    def owners_set(self, name):
        return [sd[1] for n, info, sd in self.set
                if n == name.lower() and info & OWNER_SECURITY_INFORMATION]


class RightsChecks:
    def assert_list(self, sd, entries, what):
        self.assertIsNotNone(sd, what + ": no descriptor")
        control, _, listed = sd
        self.assertTrue(control & DACL_PROTECTED, "%s: not protected (%x)" % (what, control))
        self.assertEqual(listed, entries, what)

    def assert_list_set(self, trace, name, entries):
        """The access list of `name` was set, protected, to `entries`."""
        lists = trace.access_lists_set(name)
        self.assertTrue(lists, "the rights of %s were never set" % name)
        for info, (_, _, listed) in lists:
            self.assertTrue(info & PROTECTED_DACL, "%s: not set protected (%x)" % (name, info))
            self.assertEqual([e for e in listed if not e[0] & INHERITED_ENTRY], entries, name)

    def assert_folder_secured(self, trace, folder):
        self.assert_list_set(trace, folder, FOLDER_LIST)
        self.assertEqual(trace.owners_set(folder), [ADMINISTRATORS])

    def assert_created_as_program(self, trace, name):
        made = trace.creations(name)
        self.assertTrue(made, "%s was never created" % name)
        for sd in made:
            self.assert_list(sd, PROGRAM_LIST, name)

    def assert_no_program_created_otherwise(self, trace, folder):
        """No program, library or copy of one is ever created without the programs' rights."""
        for name in INSTALLED:
            for suffix in ("", ".new", ".old"):
                path = folder + "\\" + name + suffix
                for sd in trace.creations(path):
                    self.assert_list(sd, PROGRAM_LIST, path)

    def traced_updater(self, prefix, name, args, trace_dir):
        """Runs the updater to its end under a Wine server whose trace goes to
        <test output>/updater_rights_<name>.trace; gives the exit code and the trace."""
        os.makedirs(trace_dir, exist_ok=True)
        path = os.path.join(trace_dir, "updater_rights_%s.trace" % name)
        prefix.stop_server()
        with open(path, "wb") as out:
            # In the foreground, the server keeps its standard error, where the trace goes.
            server = subprocess.Popen(["wineserver", "-f", "-p"], env=prefix.env,
                                      stdout=subprocess.DEVNULL, stderr=out)
            env = dict(prefix.env, WINEDEBUG="+server")
            proc = subprocess.Popen(wine_command() + [r"C:\tools\updater.exe"] + list(args),
                                    env=env, cwd=prefix.drive_c, stdout=subprocess.DEVNULL,
                                    stderr=out)
            code = proc.wait(300)
            # Every request is traced from now on: a fresh server for what follows.
            prefix.stop_server()
            server.wait(30)
        prefix.start_server()
        return code, ServerTrace(path)


class UpdateRightsTest(UnattendedCase, RightsChecks):
    def test_an_update_of_an_installation_with_default_rights(self):
        folder = r"C:\quorvl"
        self.place(folder + r"\quorveld.exe", payload("quorveld.exe") + b"\0old copy\0" * 8)
        for name in PAYLOADS[1:]:
            self.place(folder + "\\" + name, payload(name))
        # A user may create files in the folder: a read-only one by the name of a copy is
        # removed, never reused.
        planted = self.place(folder + r"\quorveld.exe.new", b"planted")
        os.chmod(planted, 0o444)
        code, trace = self.traced_updater(self.prefix, "update", ["/quiet", r"/log=C:\update.log"],
                                          OUTPUT)
        self.assertEqual(code, 0)
        self.assertEqual(self.read(folder + r"\quorveld.exe"), payload("quorveld.exe"))
        self.assertEqual(sorted(os.listdir(self.prefix.unix_path(folder))), sorted(INSTALLED))
        self.assert_folder_secured(trace, folder)
        for name in ("quorveld.exe.old", "quorveld.exe.new", UNINSTALLER + ".new"):
            self.assert_created_as_program(trace, folder + "\\" + name)
        # The libraries already match: left in place, with the programs' rights set.
        for name in PAYLOADS[1:]:
            self.assertEqual(trace.creations(folder + "\\" + name + ".new"), [])
            self.assert_list_set(trace, folder + "\\" + name, PROGRAM_LIST)
        self.assert_no_program_created_otherwise(trace, folder)


    def test_a_copy_a_user_could_change_is_never_made_the_program(self):
        folder = r"C:\quorvl"
        old = payload("quorveld.exe") + b"\0old copy\0" * 8
        self.place(folder + r"\quorveld.exe", old)
        for name in PAYLOADS[1:]:
            self.place(folder + "\\" + name, b"old library")
        # What a user may leave in the folder: a copy everyone may write (Wine reports the
        # Unix mode as the file's rights), and a staged file that makes it look like the
        # remains of a run cut short.
        os.chmod(self.place(folder + r"\quorveld.exe.old", b"planted program"), 0o666)
        self.place(folder + r"\quorveld.exe.new", b"planted")
        # A library held open: the update fails and puts the old files back.
        self.start(r"C:\tools\fake_service.exe", "hold", folder + r"\CDRVDL32.DLL")
        self.assertTrue(wait_for(lambda: self.holds_open(folder + r"\CDRVDL32.DLL"), 30))
        self.assertEqual(self.run_updater("/quiet", r"/log=C:\update.log"), 1)
        self.assertEqual(self.read(folder + r"\quorveld.exe"), old)


class NotInstalled(ServiceEnv):
    """A site where the updater installs the service."""

    def install_service(self, directory=None):
        tools = self.prefix.unix_path(r"C:\tools")
        os.makedirs(tools, exist_ok=True)
        shutil.copy(os.path.join(WIN_BIN, "updater.exe"), tools)


class InstallationRightsTest(ServiceTestCase, RightsChecks):
    def test_a_fresh_installation_then_the_service_counts_in_its_folder(self):
        box = BoxSimulator(serial="0123456789ABCD", records=generate_records(1, seed=3))
        with NotInstalled(boxes={0: box}, settings=POLL_CONTINUOUSLY, display=False) as env:
            folder = r"C:\quorvl"
            code, trace = self.traced_updater(
                env.prefix, "install", ["/quiet", "/target=%s\\quorveld.exe" % folder], OUTPUT)
            self.assertEqual(code, 0)
            creations = trace.creations(folder)
            self.assertEqual(len(creations), 1)
            self.assert_list(creations[0], FOLDER_LIST, folder)
            self.assert_folder_secured(trace, folder)
            for name in PAYLOADS:
                self.assertEqual(env.read_local(name), payload(name), name)
                self.assert_created_as_program(trace, folder + "\\" + name + ".new")
            self.assert_created_as_program(trace, folder + "\\" + UNINSTALLER + ".new")
            self.assert_no_program_created_otherwise(trace, folder)

            service = env.start_service()
            env.wait_log(";Data successfully cleared.", timeout=90)
            service.kill()
            service.wait(30)
            self.assertEqual(len(env.read_local("quorveld.dat").splitlines()), 24)
            env.write_settings(**UPLOAD_CONTINUOUSLY)
            service = env.start_service()
            self.assertTrue(wait_for(lambda: ";Upload successful." in env.log_text()
                                     and env.read_local("quorveld.dat") == b"", 90),
                            "the upload did not trim the cache; log:\n" + env.log_text()[-3000:])
            self.assertEqual(len(env.server.batches), 1)


if __name__ == "__main__":
    unittest.main()
