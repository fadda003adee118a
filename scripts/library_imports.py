"""Which libraries the shipped programs may import at load time, and whence Windows takes them.

Windows takes a known DLL from the system folder whatever folder a program runs from; any other
library a program imports is looked for in the program's folder first, and in a download folder
or an installation a user can write that is where a planted copy would wait. So a shipped file
imports known DLLs and, where it needs them, our own serial libraries, which lie beside it on
purpose. Everything else is loaded at run time from the system folder.
"""
import re
import subprocess

# In the KnownDLLs list of Windows 7 and of every later Windows (the MinGW runtime is linked
# statically and imports msvcrt.dll only).
KNOWN_SYSTEM_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
                     "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
                     "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll"}
# Ours, and which shipped file may import which.
OWN_IMPORTS = {"quorveld.exe": {"cdrvhf32.dll"}, "cdrvhf32.dll": {"cdrvdl32.dll"}}
OWN_LIBRARIES = set().union(*OWN_IMPORTS.values())


def imports(path, objdump="i686-w64-mingw32-objdump"):
    """The DLL names in the import table of the PE file at path, as written there."""
    out = subprocess.run([objdump, "-p", path], check=True, stdout=subprocess.PIPE,
                         text=True).stdout
    return re.findall(r"^\s*DLL Name: (\S+)", out, re.M)


def where_loaded(dll):
    name = dll.lower()
    if name in KNOWN_SYSTEM_DLLS:
        return "system folder (known DLL)"
    if name in OWN_LIBRARIES:
        return "program's folder (shipped)"
    return "program's folder first"


def import_faults(file_name, dlls):
    """The imports of the shipped file file_name that break the rule above."""
    allowed = KNOWN_SYSTEM_DLLS | OWN_IMPORTS.get(file_name.lower(), set())
    return ["%s imports %s" % (file_name, dll) for dll in dlls if dll.lower() not in allowed]
