"""The release files checked without running them, read from the packages as a user downloads them: each flavour's
Frostpane.exe is a GUI program for its machine, hardened, stripped, small, with a fixed time stamp and a header
that states the lowest Windows its reviewed imports allow; its symbols file matches it; both carry the same
resources byte for byte; each package holds the exe of its flavour with the version the version block gives, and
the ReadMe.

The packages are those scripts/package writes from build/x86 and build/x64, or, with FROSTPANE_DIST set, those in
that folder (a download, or another build's dist/). On a host that cannot run 32-bit code this is how the x86 exe
is checked; the x64 Win32 tests then read its resources as data too (scripts/test).
"""

import hashlib
import io
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO))

from harness import pe  # noqa: E402

VERSION = "1.0.0.1"
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


@pytest.fixture(scope="module")
def dist(tmp_path_factory):
    """{file name: bytes} of the release folder."""
    if os.environ.get("FROSTPANE_DIST"):
        folder = Path(os.environ["FROSTPANE_DIST"])
    else:
        folder = tmp_path_factory.mktemp("dist")
        subprocess.run([str(REPO / "scripts" / "package"), "--no-build", "--out", str(folder)], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
    return {f.name: f.read_bytes() for f in folder.iterdir()}


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
    assert sorted(sums) == sorted("Frostpane-%s-%s%s.zip" % (VERSION, flavour, kind)
                                  for flavour in FLAVOURS for kind in ("", "-symbols"))
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
        assert "Windows XP" in readme


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
    assert size <= SIZE_BUDGET
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
    # No symbols: at most the string table that holds the long section names.
    assert [n for n in names if n.startswith(".debug")] == [] and exe.symbol_count == 0
    tail = data[exe.symbol_table:] if exe.symbol_table else b"\0\0\0\0"
    assert tail[4:].split(b"\0")[:-1] == [n.encode() for n in names if len(n) > 8]
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
