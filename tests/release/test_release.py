"""The release files checked without running them: each flavour's Frostpane.exe is a GUI program for its machine
that imports only the system DLLs, both carry the same resources byte for byte, and each package holds the exe of
its flavour with the version the version block gives, and the ReadMe.

This is how the x86 exe is checked on a host that cannot run 32-bit code; the x64 Win32 tests then read its
resources as data too (scripts/test).
"""

import hashlib
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO))

from harness.pe import SUBSYSTEM_WINDOWS_GUI, PeFile  # noqa: E402

FLAVOURS = {"x86": ("i386", "PE32"), "x64": ("x86-64", "PE32+")}
SYSTEM_DLLS = {"ADVAPI32.dll", "GDI32.dll", "KERNEL32.dll", "msvcrt.dll", "OLEAUT32.dll", "USER32.dll"}


def _exe(flavour):
    path = REPO / "build" / flavour / "Frostpane.exe"
    if not path.is_file():
        pytest.fail("%s not found: run scripts/build %s" % (path, flavour), pytrace=False)
    return PeFile(path.read_bytes())


def test_each_flavour_is_a_gui_program_for_its_machine_importing_only_system_dlls():
    for flavour, (machine, kind) in FLAVOURS.items():
        exe = _exe(flavour)
        assert (exe.machine, exe.format, exe.subsystem) == (machine, kind, SUBSYSTEM_WINDOWS_GUI), flavour
        assert set(exe.imports()) == SYSTEM_DLLS, flavour


def test_both_flavours_carry_the_same_resources_byte_for_byte():
    x86, x64 = _exe("x86").resources(), _exe("x64").resources()
    assert sorted(x86) == sorted(x64)
    assert [k for k in x86 if x86[k] != x64[k]] == []
    # Dialogs 100 and 102, the icon group 128 and its two images, two string blocks, the version block.
    assert {k[:2] for k in x86} == {(3, 1), (3, 2), (5, 100), (5, 102), (6, 7), (6, 3585), (14, 128), (16, 1)}


def test_each_package_holds_its_flavours_exe_and_version(tmp_path):
    subprocess.run([str(REPO / "scripts" / "package"), "--no-build", "--out", str(tmp_path)], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    sums = {}
    for line in (tmp_path / "SHA256SUMS").read_text().splitlines():
        digest, name = line.split("  ")
        sums[name] = digest
    assert sorted(sums) == ["Frostpane-1.0.0.1-x64.zip", "Frostpane-1.0.0.1-x86.zip"]
    for flavour, (machine, kind) in FLAVOURS.items():
        path = tmp_path / ("Frostpane-1.0.0.1-%s.zip" % flavour)
        assert hashlib.sha256(path.read_bytes()).hexdigest() == sums[path.name]
        with zipfile.ZipFile(path) as z:
            assert sorted(z.namelist()) == ["Frostpane.exe", "ReadMe.txt"]
            exe = PeFile(z.read("Frostpane.exe"))
            readme = z.read("ReadMe.txt").decode("ascii")
        assert (exe.machine, exe.format) == (machine, kind)
        # The package is named after the version block of the exe inside it, and the block agrees with itself.
        fixed, strings = exe.version()
        parts = [fixed["file_ms"] >> 16, fixed["file_ms"] & 0xFFFF, fixed["file_ls"] >> 16, fixed["file_ls"] & 0xFFFF]
        assert (fixed["product_ms"], fixed["product_ls"]) == (fixed["file_ms"], fixed["file_ls"])
        assert strings["FileVersion"] == strings["ProductVersion"] == ", ".join(map(str, parts))
        assert ".".join(map(str, parts)) == "1.0.0.1"
        assert readme.startswith("Frostpane 1.0.0.1 (%s)\r\n" % flavour) and "@" not in readme
        assert 'reg delete "HKCU\\Software\\Tapwright" /f' in readme
