"""The release files checked without running them, read from the packages as a user downloads them: each flavour's
Frostpane.exe is a GUI program for its machine, hardened, stripped, small, with a fixed time stamp and a header
that states the lowest Windows its reviewed imports allow; its symbols file matches it; both carry the same
resources byte for byte; each zip holds the exe of its flavour with the version the version block gives, and the
ReadMe; each installer holds the same exe and installs it as Windows users and administrators expect.

The packages are those scripts/package writes from build/x86 and build/x64, once as they are and once signed with
a throwaway certificate made here, or, with FROSTPANE_DIST set, those in that folder (a download, or another
build's dist/). On a host that cannot run 32-bit code this is how the x86 exe is checked; the x64 Win32 tests then
read its resources as data too (scripts/test).
"""

import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO))

sys.path.insert(0, str(REPO / "packaging"))

import msi  # noqa: E402
from harness import pe, signing  # noqa: E402
from harness.names import SHORTCUT_KEY, UPGRADE_CODE, VERSION  # noqa: E402

FLAVOURS = {"x86": ("i386", "PE32"), "x64": ("x86-64", "PE32+")}
SIZE_BUDGET = 96 * 1024


def _reviewed_imports():
    """({flavour: lowest Windows as (major, minor)}, {flavour: {"DLL!function": version or None}}) from imports.txt."""
    lowest, reviewed = {}, {flavour: {} for flavour in FLAVOURS}
    for line in (Path(__file__).parent / "imports.txt").read_text().splitlines():
        words = line.split("#")[0].split()
        if not words:
            continue
        if words[0] == "lowest":
            lowest[words[1]] = tuple(map(int, words[2].split(".")))
            continue
        flavours = [words.pop(0)] if words[0] in FLAVOURS else list(FLAVOURS)
        version = tuple(map(int, words[1].split("."))) if len(words) > 1 else None
        for flavour in flavours:
            reviewed[flavour][words[0]] = version
    return lowest, reviewed


class Release(dict):
    """{file name: bytes} of a release folder; .certificate is the PEM it was signed with, None where it is known
    to be unsigned, and ... where nothing is known (a folder given with FROSTPANE_DIST)."""


@pytest.fixture(scope="module", params=["given"] if os.environ.get("FROSTPANE_DIST") else ["unsigned", "signed"])
def dist(request, tmp_path_factory):
    certificate = None
    if request.param == "given":
        folder, certificate = Path(os.environ["FROSTPANE_DIST"]), ...
    elif request.param == "signed":
        folder = tmp_path_factory.mktemp("signed")
        pfx, certificate = signing.throwaway_certificate(folder)
        signing.signed_release(folder / "dist", pfx)
        folder = folder / "dist"
    else:
        folder = tmp_path_factory.mktemp("dist")
        subprocess.run([str(REPO / "scripts" / "package"), "--no-build", "--out", str(folder)], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
    release = Release((f.name, f.read_bytes()) for f in folder.iterdir())
    release.certificate = certificate
    return release


def _member(dist, name, member):
    if name not in dist:
        pytest.fail("%s is not in the release folder (%s)" % (name, ", ".join(sorted(dist))), pytrace=False)
    with zipfile.ZipFile(io.BytesIO(dist[name])) as z:
        return z.read(member)


def _exe(dist, flavour):
    return _member(dist, "Frostpane-%s-%s.zip" % (VERSION, flavour), "Frostpane.exe")


def test_sums_name_every_package_and_each_holds_its_flavours_exe_and_version(dist):
    sums = {}
    for line in dist["SHA256SUMS"].decode("ascii").splitlines():
        digest, name = line.split("  ")
        sums[name] = digest
    assert sorted(sums) == sorted("Frostpane-%s-%s%s" % (VERSION, flavour, kind)
                                  for flavour in FLAVOURS for kind in (".zip", "-symbols.zip", ".msi"))
    assert {name: hashlib.sha256(dist[name]).hexdigest() for name in sums} == sums
    for flavour, (machine, kind) in FLAVOURS.items():
        with zipfile.ZipFile(io.BytesIO(dist["Frostpane-%s-%s.zip" % (VERSION, flavour)])) as z:
            assert sorted(z.namelist()) == ["Frostpane.exe", "ReadMe.txt"]
            readme = z.read("ReadMe.txt").decode("ascii")
        exe = pe.PeFile(_exe(dist, flavour))
        assert (exe.machine, exe.format, exe.subsystem) == (machine, kind, pe.SUBSYSTEM_WINDOWS_GUI), flavour
        # The package is named after the version block of the exe inside it, and the block agrees with itself.
        fixed, strings = exe.version()
        parts = [fixed["file_ms"] >> 16, fixed["file_ms"] & 0xFFFF, fixed["file_ls"] >> 16, fixed["file_ls"] & 0xFFFF]
        assert (fixed["product_ms"], fixed["product_ls"]) == (fixed["file_ms"], fixed["file_ls"])
        assert strings["FileVersion"] == strings["ProductVersion"] == ", ".join(map(str, parts))
        assert ".".join(map(str, parts)) == VERSION
        assert readme.startswith("Frostpane %s (%s)\r\n" % (VERSION, flavour)) and "@" not in readme
        assert 'reg delete "HKCU\\Software\\Tapwright" /f' in readme
        assert "Windows XP" in readme and "Ctrl+Alt+F11" in readme
        if dist.certificate is not ...:
            assert ("are signed with Authenticode" in readme) == bool(dist.certificate)


def test_both_flavours_carry_the_same_resources_byte_for_byte(dist):
    x86, x64 = (pe.PeFile(_exe(dist, flavour)).resources() for flavour in ("x86", "x64"))
    assert sorted(x86) == sorted(x64)
    assert [k for k in x86 if x86[k] != x64[k]] == []
    # Dialogs 100 and 102, the icon group 128 and its two images, two string blocks, the version block.
    assert {k[:2] for k in x86} == {(3, 1), (3, 2), (5, 100), (5, 102), (6, 7), (6, 3585), (14, 128), (16, 1)}


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_exe_is_hardened_stripped_small_and_stamped_with_no_time(dist, flavour):
    data = _exe(dist, flavour)
    exe = pe.PeFile(data)
    wide = flavour == "x64"
    size = len(data)
    # The budget is the program's: a signature, whose size depends on the certificate's chain, is not counted.
    assert (exe.certificate_table()[0] or size) <= SIZE_BUDGET
    flags = pe.DYNAMIC_BASE | pe.NX_COMPAT | pe.HIGH_ENTROPY_VA
    assert exe.dll_characteristics & flags == flags & ~(0 if wide else pe.HIGH_ENTROPY_VA)
    # Not shown that the x86 program and its static runtime never treat an address as signed: no addresses above
    # 2 GiB there.
    assert bool(exe.characteristics & pe.LARGE_ADDRESS_AWARE) == wide
    assert not exe.characteristics & pe.RELOCS_STRIPPED
    sections = exe.sections()
    names = [name for name, *_ in sections]
    assert ".reloc" in names
    assert [name for name, _a, _s, f in sections if f & pe.MEM_WRITE and f & pe.MEM_EXECUTE] == []
    # No symbols: at most the string table that holds the long section names, and after it only the signature.
    assert [n for n in names if n.startswith(".debug")] == [] and exe.symbol_count == 0
    strings_end = exe.symbol_table + struct.unpack_from("<I", data, exe.symbol_table)[0] if exe.symbol_table else size
    assert data[exe.symbol_table + 4:strings_end].split(b"\0")[:-1] == [n.encode() for n in names if len(n) > 8]
    signature, signature_size = exe.certificate_table()
    if signature:
        # The signature starts at the next 8-byte boundary and runs to the end of the file.
        assert (signature, signature + signature_size) == ((strings_end + 7) & ~7, size)
    else:
        assert strings_end == size
    assert exe.timestamp == 0 and exe.checksum == exe.computed_checksum()


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_symbols_file_matches_its_exe(dist, flavour):
    exe = pe.PeFile(_exe(dist, flavour))
    data = _member(dist, "Frostpane-%s-%s-symbols.zip" % (VERSION, flavour), "Frostpane.dbg")
    symbols = pe.PeFile(data)
    assert exe.debug_link() == ("Frostpane.dbg", pe.crc32_of(data))
    layout = [(name, address, size) for name, address, size, _f in symbols.sections()]
    assert [s[:3] for s in exe.sections() if s[0] != ".gnu_debuglink"] == layout[:len(exe.sections()) - 1]
    assert ".debug_info" in [name for name, *_ in layout] and symbols.timestamp == 0
    # The program's own functions are named, every C++ unit of it was compiled with the stack protector (the
    # compiler records its options), and the protector's guard and failure are linked in.
    names = set(symbols.symbols())
    assert any("CScreenGrabber" in name for name in names)
    producers = re.findall(rb"GNU C\+\+[^\0]*", symbols.section_data(".debug_info"))
    last = [[o for o in p.split() if o.startswith((b"-fstack-protector", b"-fno-stack-protector"))][-1:]
            for p in producers]
    assert producers and [p for p, o in zip(producers, last) if o != [b"-fstack-protector-strong"]] == []
    prefix = "_" if flavour == "x86" else ""
    assert {prefix + "__stack_chk_fail", prefix + "__stack_chk_guard"} <= names


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_header_states_the_lowest_windows_its_reviewed_imports_allow(dist, flavour):
    exe = pe.PeFile(_exe(dist, flavour))
    lowest, reviewed = _reviewed_imports()
    lowest = lowest[flavour]
    imported = ["%s!%s" % (dll, function) for dll, functions in exe.imports().items() for function in functions]
    assert [name for name in imported if name not in reviewed[flavour]] == [], "not reviewed: see imports.txt"
    assert [name for name in imported if (reviewed[flavour][name] or lowest) > lowest] == []
    assert exe.os_version == exe.subsystem_version == lowest


def test_signed_where_a_certificate_was_given_and_only_there(dist, tmp_path):
    if dist.certificate is ...:
        pytest.skip("a folder given with FROSTPANE_DIST: whether it was signed is not known here")
    for flavour in FLAVOURS:
        installer = "Frostpane-%s-%s.msi" % (VERSION, flavour)
        for name, data in (("Frostpane-%s.exe" % flavour, _exe(dist, flavour)), (installer, dist[installer])):
            path = tmp_path / name
            path.write_bytes(data)
            if dist.certificate:
                verified, report = signing.verify(path, dist.certificate)
                assert verified, report
            elif name.endswith(".exe"):
                assert pe.PeFile(data).certificate_table() == (0, 0), name
            else:
                assert "DigitalSignature" not in _msiinfo("streams", path).split(), name


# The installers

PROGRAM_FILES = {"x86": "ProgramFilesFolder", "x64": "ProgramFiles64Folder"}
# What only a Windows Installer later than 3.1 (XP Service Pack 3) knows.
LATER_TABLES = {"MsiEmbeddedChainer", "MsiEmbeddedUI", "MsiLockPermissionsEx", "MsiServiceConfig",
                "MsiServiceConfigFailureActions", "MsiShortcutProperty"}
LATER_PROPERTIES = {"MSIINSTALLPERUSER", "MSIFASTINSTALL", "MSIRESTARTMANAGERCONTROL", "MSIDISABLERMRESTART",
                    "MSIRMSHUTDOWN", "MSIUSEREALADMINDETECTION", "MSIDEPLOYMENTCOMPLIANT"}


def _msiinfo(*args):
    """msiinfo's output; it runs in the package's folder, where exporting a table of streams writes them."""
    return subprocess.run(["msiinfo"] + [str(a) for a in args], check=True, stdout=subprocess.PIPE, text=True,
                          timeout=60, cwd=Path(args[1]).parent).stdout


def _installer(dist, flavour, folder):
    """(path, tables, properties, summary) of the flavour's MSI, written into folder; see _read."""
    path = folder / ("Frostpane-%s.msi" % flavour)
    path.write_bytes(dist["Frostpane-%s-%s.msi" % (VERSION, flavour)])
    return (path,) + _read(path)


def _read(path):
    """({table: [row as {column: text}]}, {property: value}, {summary field: text}) of an MSI."""
    tables = {}
    for table in _msiinfo("tables", path).split():
        if table.startswith("_"):
            continue
        lines = _msiinfo("export", path, table).split("\n")
        columns = lines[0].split("\t")
        tables[table] = [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]
    properties = {row["Property"]: row["Value"] for row in tables["Property"]}
    summary = dict(line.split(": ", 1) for line in _msiinfo("suminfo", path).splitlines() if ": " in line)
    return tables, properties, summary


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_installer_puts_the_zips_exe_in_the_users_or_every_users_programs_with_a_keyed_shortcut(dist, flavour,
                                                                                                 tmp_path):
    path, tables, properties, summary = _installer(dist, flavour, tmp_path)
    # It installs one file, the zip's exe byte for byte: per user under LocalAppData\Programs\Frostpane...
    subprocess.run(["msiextract", "-C", str(tmp_path / "files"), str(path)], check=True, stdout=subprocess.DEVNULL)
    files = sorted(str(f.relative_to(tmp_path / "files")) for f in (tmp_path / "files").rglob("*") if f.is_file())
    assert files == ["Programs/Frostpane/Frostpane.exe"]
    assert (tmp_path / "files" / files[0]).read_bytes() == _exe(dist, flavour)
    [exe_file] = tables["File"]
    [component] = [c for c in tables["Component"] if c["Component"] == exe_file["Component_"]]
    folders = {d["Directory"]: (d["Directory_Parent"], d["DefaultDir"]) for d in tables["Directory"]}
    chain, folder = [], component["Directory_"]
    while folders[folder][0]:
        chain.append(folders[folder][1] if folders[folder][1] != "." else folder)
        folder = folders[folder][0]
    assert chain[::-1] == ["LocalAppDataFolder", "Programs", "Frostpane"] and component["KeyPath"] == exe_file["File"]
    # ... or, where ALLUSERS asks for every user, in the Program Files of its width, decided before the folders
    # are (CostFinalize) in both the interactive and the silent sequence.
    [machine] = [a for a in tables["CustomAction"] if a["Source"] == component["Directory_"]]
    assert (machine["Type"], machine["Target"]) == ("51", "[%s]Frostpane" % PROGRAM_FILES[flavour])
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        steps = {row["Action"]: row for row in tables[sequence]}
        assert "ALLUSERS" in steps[machine["Action"]]["Condition"]
        assert int(steps[machine["Action"]]["Sequence"]) < int(steps["CostFinalize"]["Sequence"])
    # 64-bit where the exe is; no elevation for a per-user install (read from Windows Installer 4.0 on), the files
    # inside (word count 8 | 2); nothing that the Windows Installer 3.1 of XP Service Pack 3 lacks.
    assert summary["Template"] == ("x64;1033" if flavour == "x64" else "Intel;1033")
    assert bool(int(component["Attributes"]) & 256) == (flavour == "x64")
    assert (summary["Source"], summary["Version"]) == ("10 (a)", "200 (c8)")
    assert LATER_TABLES & set(tables) == set() and LATER_PROPERTIES & set(properties) == set()

    # One Start-menu shortcut, to the exe itself (not advertised), with the key, the product's icon, a description
    # and no arguments.
    [shortcut] = tables["Shortcut"]
    assert (shortcut["Directory_"], shortcut["Name"], shortcut["Target"], shortcut["Arguments"]) == (
        "ProgramMenuFolder", "Frostpane", "[#%s]" % exe_file["File"], "")
    assert int(shortcut["Hotkey"]) == SHORTCUT_KEY and shortcut["Description"]
    icon = subprocess.run(["msiinfo", "extract", str(path), "Icon." + shortcut["Icon_"]], check=True,
                          stdout=subprocess.PIPE).stdout
    assert icon == (REPO / "res" / "Frostpane.ico").read_bytes()

    # Programs and Features: the name, the version block's publisher and version, the same icon; neither Modify
    # nor Repair, which would offer nothing.
    _fixed, strings = pe.PeFile(_exe(dist, flavour)).version()
    assert (properties["ProductName"], properties["Manufacturer"], properties["ProductVersion"]) == (
        "Frostpane", strings["CompanyName"], VERSION)
    assert (properties["ARPPRODUCTICON"], properties["ARPNOMODIFY"], properties["ARPNOREPAIR"]) == (
        shortcut["Icon_"], "1", "1")


def test_installers_share_one_upgrade_code_across_versions_and_each_version_is_a_product_of_its_own(dist,
                                                                                                    tmp_path):
    codes = {}
    for flavour in FLAVOURS:
        _path, _tables, properties, _summary = _installer(dist, flavour, tmp_path)
        codes[flavour] = (properties["UpgradeCode"], properties["ProductCode"])
    # A later version of the same exe.
    exe, other = tmp_path / "Frostpane.exe", tmp_path / "later.msi"
    exe.write_bytes(_exe(dist, "x64"))
    msi.build(exe, "x64", "1.0.1.0", other)
    _tables, properties, _summary = _read(other)
    codes["x64 1.0.1.0"] = (properties["UpgradeCode"], properties["ProductCode"])
    assert {upgrade for upgrade, _product in codes.values()} == {UPGRADE_CODE}
    assert len({product for _upgrade, product in codes.values()}) == 3
