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
sys.path.insert(0, str(Path(__file__).parent))

import harness.releases  # noqa: E402
import msi  # noqa: E402
import msirules  # noqa: E402
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
    to be unsigned, and ... where nothing is known (a folder given with FROSTPANE_DIST); .time_stamps the PEM of
    the time-stamp authority that counter-signed it."""


@pytest.fixture(scope="session")
def releases(tmp_path_factory):
    return harness.releases.given_or_made(tmp_path_factory.mktemp("releases"))


# How each release folder is signed: (certificate, time-stamp authority's certificate).
SIGNED_BY = {"unsigned": lambda r: (None, None), "signed": lambda r: (r.token_certificate, r.tsa_certificate),
             "signed-pfx": lambda r: (r.pfx_certificate, r.tsa_certificate)}


@pytest.fixture(scope="module", params=["given"] if os.environ.get("FROSTPANE_DIST") else list(SIGNED_BY))
def dist(request):
    if request.param == "given":
        folder, (certificate, time_stamps) = Path(os.environ["FROSTPANE_DIST"]), (..., None)
    else:
        releases = request.getfixturevalue("releases")
        folder = getattr(releases, request.param.replace("-", "_"))
        certificate, time_stamps = SIGNED_BY[request.param](releases)
    release = Release((f.name, f.read_bytes()) for f in folder.iterdir())
    release.certificate, release.time_stamps = certificate, time_stamps
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
    # Beside them, the versions of the tools the bytes depend on: the compilers, msitools, Python.
    tools = dict(line.split(" ", 1) for line in dist["BUILT-WITH.txt"].decode("ascii").splitlines())
    assert {"g++-mingw-w64-i686-posix", "g++-mingw-w64-x86-64-posix", "msitools", "python3"} <= set(tools)
    assert all(re.fullmatch(r"[0-9][0-9A-Za-z.+:~-]*", v) for v in tools.values()), tools
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
                verified, report = signing.verify(path, dist.certificate, dist.time_stamps)
                assert verified, report
            elif name.endswith(".exe"):
                assert pe.PeFile(data).certificate_table() == (0, 0), name
            else:
                assert "DigitalSignature" not in _msiinfo("streams", path).split(), name


def test_signing_hands_the_password_and_the_pin_to_osslsigncode_through_a_pipe_alone(releases):
    calls = releases.calls.read_text().split("call: ")[1:]
    # Four files (two exes, two installers) in each of the two signed releases.
    assert len(calls) == 8
    for call in calls:
        assert signing.PASSWORD not in call and signing.PIN not in call
        assert "FROSTPANE_SIGN_PASSWORD" not in call and " -readpass - " in call.split("\n")[0]
    assert sum("-pkcs11module" in call for call in calls) == 4
    # The token's release was given a time-stamp server that refuses before the one that answers.
    assert all(call.split("\n")[0].count(" -ts ") == (2 if "-pkcs11module" in call else 1) for call in calls)


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
    # It installs one file, the zip's exe byte for byte, as a program of the version block's version and
    # language: per user under LocalAppData\Programs\Frostpane...
    subprocess.run(["msiextract", "-C", str(tmp_path / "files"), str(path)], check=True, stdout=subprocess.DEVNULL)
    files = sorted(str(f.relative_to(tmp_path / "files")) for f in (tmp_path / "files").rglob("*") if f.is_file())
    assert files == ["Programs/Frostpane/Frostpane.exe"]
    assert (tmp_path / "files" / files[0]).read_bytes() == _exe(dist, flavour)
    [exe_file] = tables["File"]
    # The version block read is the US English one (0x409), the only one the exe has.
    _fixed, strings = pe.PeFile(_exe(dist, flavour)).version()
    assert (exe_file["Version"], exe_file["Language"]) == (VERSION, str(0x409))
    [component] = [c for c in tables["Component"] if c["Component"] == exe_file["Component_"]]
    folders = {d["Directory"]: (d["Directory_Parent"], d["DefaultDir"].split("|")[-1]) for d in tables["Directory"]}
    chain, folder = [], component["Directory_"]
    while folders[folder][0]:
        chain.append(folders[folder][1] if folders[folder][1] != "." else folder)
        folder = folders[folder][0]
    assert chain[::-1] == ["LocalAppDataFolder", "Programs", "Frostpane"]
    # ... or, where ALLUSERS asks for every user, in the Program Files of its width, decided before the folders
    # are (CostFinalize) in both the interactive and the silent sequence.
    [machine] = [a for a in tables["CustomAction"] if a["Source"] == component["Directory_"]]
    assert (machine["Type"], machine["Target"]) == ("51", "[%s]Frostpane" % PROGRAM_FILES[flavour])
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        steps = {row["Action"]: row for row in tables[sequence]}
        assert "ALLUSERS" in steps[machine["Action"]]["Condition"]
        assert int(steps[machine["Action"]]["Sequence"]) < int(steps["CostFinalize"]["Sequence"])
    # 64-bit where the exe is, every component; no elevation for a per-user install (read from Windows Installer
    # 4.0 on), the files inside (word count 8 | 2); nothing that the Windows Installer 3.1 of XP Service Pack 3
    # lacks.
    assert summary["Template"] == ("x64;1033" if flavour == "x64" else "Intel;1033")
    assert {bool(int(c["Attributes"]) & 256) for c in tables["Component"]} == {flavour == "x64"}
    assert (summary["Source"], summary["Version"]) == ("10 (a)", "200 (c8)")
    assert LATER_TABLES & set(tables) == set() and LATER_PROPERTIES & set(properties) == set()

    # One Start-menu shortcut, to the exe itself (not advertised), with the key unless NOSHORTCUTKEY is set, the
    # product's icon, a description and no arguments.
    components = {c["Component"]: c for c in tables["Component"]}
    keys = {}
    for shortcut in tables["Shortcut"]:
        assert (shortcut["Directory_"], shortcut["Name"], shortcut["Target"], shortcut["Arguments"]) == (
            "ProgramMenuFolder", msi.SHORT_NAMES["Frostpane"], "[#%s]" % exe_file["File"], "")
        assert shortcut["Description"] and shortcut["Icon_"] == properties["ARPPRODUCTICON"]
        keys[components[shortcut["Component_"]]["Condition"]] = int(shortcut["Hotkey"] or 0)
    assert keys == {"NOT NOSHORTCUTKEY": SHORTCUT_KEY, "NOSHORTCUTKEY": 0}
    icon = subprocess.run(["msiinfo", "extract", str(path), "Icon." + properties["ARPPRODUCTICON"]], check=True,
                          stdout=subprocess.PIPE).stdout
    assert icon == (REPO / "res" / "Frostpane.ico").read_bytes()

    # Programs and Features: the name, the version block's publisher and version, the same icon; neither Modify
    # nor Repair, which would offer nothing.
    assert (properties["ProductName"], properties["Manufacturer"], properties["ProductVersion"]) == (
        "Frostpane", strings["CompanyName"], VERSION)
    assert (properties["ARPNOMODIFY"], properties["ARPNOREPAIR"]) == ("1", "1")


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_installer_keeps_the_rules_windows_installer_validates(dist, flavour, tmp_path):
    _path, tables, _properties, _summary = _installer(dist, flavour, tmp_path)
    assert [finding for rule in msirules.RULES for finding in rule(tables)] == []


# Each rule, shown finding the fault it is for in a package that breaks it: the SQL that breaks the released
# package, and what the rule must then say.
BREAKAGES = {
    "ice03 long name alone": (msirules.ice03_names, "ICE03",
                              ["UPDATE `File` SET `FileName`='Frostpane.exe' WHERE `File`='Frostpane.exe'"]),
    "ice18 folder not created": (msirules.ice18_directory_key_paths, "ICE18",
                                 ["UPDATE `Component` SET `KeyPath`='', `Attributes`=0 WHERE `Component`='ForUser'"]),
    "ice38 exe as key path": (msirules.ice38_profile_components, "ICE38",
                              ["UPDATE `Component` SET `KeyPath`='Frostpane.exe', `Attributes`=0 "
                               "WHERE `Component`='Program'"]),
    "ice43 shortcut beside the exe": (msirules.ice43_shortcut_components, "ICE43",
                                      ["UPDATE `Shortcut` SET `Component_`='ForMachine'"]),
    "ice57 HKMU key path with profile files": (msirules.ice57_per_user_and_per_machine, "ICE57",
                                               ["UPDATE `Registry` SET `Root`=-1 WHERE `Component_`='Program'"]),
    "ice61 removes a later version": (msirules.ice61_upgrades, "ICE61",
                                      ["DELETE FROM `Upgrade` WHERE `ActionProperty`='EARLIERFROSTPANE'",
                                       "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, "
                                       "`Attributes`, `ActionProperty`) VALUES ('%s', '0.0.0', '2.0.0', 768, "
                                       "'EARLIERFROSTPANE')" % UPGRADE_CODE]),
    "ice61 not secure": (msirules.ice61_upgrades, "ICE61",
                         ["UPDATE `Property` SET `Value`='LATERFROSTPANE' WHERE `Property`='SecureCustomProperties'"]),
    "ice64 Programs left behind": (msirules.ice64_profile_folders_removed, "ICE64",
                                   ["DELETE FROM `RemoveFile` WHERE `FileKey`='RemoveProgramsFolder'"]),
    "ice91 folder moved silently only": (msirules.ice91_per_user_folders, "ICE91",
                                         ["DELETE FROM `InstallUISequence` WHERE `Action`='MachineFolder'"]),
    "ice105 HKLM value": (msirules.ice105_per_user_package, "ICE105",
                          ["UPDATE `Registry` SET `Root`=2 WHERE `Component_`='ForMachine'"]),
    "ice105 elevated action": (msirules.ice105_per_user_package, "ICE105",
                               ["UPDATE `CustomAction` SET `Type`=2099 WHERE `Action`='MachineFolder'"]),
    "launch condition blocks uninstall": (msirules.launch_conditions, "LaunchCondition",
                                          ["DELETE FROM `LaunchCondition` WHERE `Condition`='Installed OR NOT "
                                           "LATERFROSTPANE'",
                                           "INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES "
                                           "('NOT LATERFROSTPANE', 'A later version')"]),
}


@pytest.mark.parametrize("breakage", list(BREAKAGES))
def test_each_rule_finds_the_fault_it_is_for(releases, tmp_path, breakage):
    rule, name, queries = BREAKAGES[breakage]
    path = tmp_path / "broken.msi"
    path.write_bytes((releases.unsigned / ("Frostpane-%s-x64.msi" % VERSION)).read_bytes())
    assert rule(_read(path)[0]) == []
    for query in queries:
        subprocess.run(["msibuild", str(path), "-q", query], check=True, capture_output=True, timeout=60)
    found = rule(_read(path)[0])
    assert found and all(f.startswith(name) for f in found), found


def test_installers_share_one_upgrade_code_and_each_packages_content_is_a_product_of_its_own(dist, tmp_path):
    def upgrade_and_product(properties):
        return properties["UpgradeCode"], properties["ProductCode"]

    codes = {}
    for flavour in FLAVOURS:
        _path, tables, properties, _summary = _installer(dist, flavour, tmp_path)
        codes[flavour] = upgrade_and_product(properties)
        # It replaces any installed Frostpane of this version or earlier, of either flavour (the same version too, so
        # that another build of it replaces the one installed), and refuses to go over a later one.
        rows = {r["ActionProperty"]: (r["UpgradeCode"], r["VersionMin"], r["VersionMax"], int(r["Attributes"]))
                for r in tables["Upgrade"]}
        assert rows == {"EARLIERFROSTPANE": (UPGRADE_CODE, "0.0.0", VERSION, msirules.MIN_INCLUSIVE
                                             | msirules.MAX_INCLUSIVE),
                        "LATERFROSTPANE": (UPGRADE_CODE, VERSION, "", msirules.ONLY_DETECT)}
        # The contexts: a per-user install where Frostpane is installed for every user (in either registry view)
        # is refused, and so is a per-machine install by a user who has Frostpane for themselves.
        conditions = {r["Condition"] for r in tables["LaunchCondition"]}
        assert conditions == {"Installed OR NOT LATERFROSTPANE",
                              "Installed OR ALLUSERS OR NOT (FORMACHINE OR FORMACHINE64)",
                              "Installed OR NOT ALLUSERS OR NOT FORUSER"}
        searches = {r["Signature_"]: (r["Root"], r["Key"], r["Name"], r["Type"]) for r in tables["RegLocator"]}
        markers = {r["Component_"]: (r["Root"], r["Key"], r["Name"]) for r in tables["Registry"]
                   if r["Name"] == "Scope"}
        assert searches == {"ForMachine": ("2",) + markers["ForMachine"][1:] + ("2",),
                            "ForMachine64": ("2",) + markers["ForMachine"][1:] + ("18",),
                            "ForUser": markers["ForUser"] + ("2",)}
        assert {c["Component"]: c["Condition"] for c in tables["Component"] if c["Component"] in markers} == {
            "ForUser": "NOT ALLUSERS", "ForMachine": "ALLUSERS"}
    # The same version built again around another exe is another product; the same bytes give the same product.
    exe, other = tmp_path / "Frostpane.exe", tmp_path / "rebuilt.msi"
    exe.write_bytes(_exe(dist, "x64") + b"\0")
    msi.build(exe, "x64", VERSION, other)
    codes["x64 rebuilt"] = upgrade_and_product(_read(other)[1])
    exe.write_bytes(_exe(dist, "x64"))
    msi.build(exe, "x64", VERSION, other)
    assert upgrade_and_product(_read(other)[1]) == codes["x64"]
    assert {upgrade for upgrade, _product in codes.values()} == {UPGRADE_CODE}
    assert len({product for _upgrade, product in codes.values()}) == 3
