"""Frostpane's installers: one MSI per flavour from Frostpane.wxs beside this file, built by wixl, with what wixl
leaves out set by msibuild, and made the same bytes by every build of one commit.

wixl writes a random package code and the time of the build into the summary information, and the exe's
modification time into the cabinet. So the exe is packed with a fixed time, and the summary information gets the
same fixed time and a package code derived from the package's own bytes: two different packages never share one,
and the same package always has the same one. The product code follows from the package's content in the same way
(product_code).
"""

import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import uuid
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE / "Frostpane.wxs"
ICON = HERE.parent / "res" / "Frostpane.ico"

# The same for every version and both flavours: whichever Frostpane is installed, installing another replaces it.
UPGRADE_CODE = "{814C7DF3-C09C-4E88-9D11-0AC14BCDA471}"
# The shortcut key of the Start-menu entry, Ctrl+Alt+F11: the virtual key (VK_F11) in the low byte, the modifiers
# (HOTKEYF_CONTROL 2 | HOTKEYF_ALT 4) in the high byte, as a shell link stores it. A function key, as AltGr+letter
# (which is Ctrl+Alt+letter) types characters on many keyboard layouts.
HOTKEY = 0x067A
# The time every package carries, as the zips' entries do: 2026-01-01 00:00 UTC. The cabinet stores the exe's
# modification time as a local DOS time, so the exe is given this time and wixl runs in UTC.
PACKED_AT = 1767225600
_FILETIME = (PACKED_AT + 11644473600) * 10**7
_PLACEHOLDER = "{00000000-0000-0000-0000-000000000000}"

# The exe's version block is in US English (its Translation, 0x409).
EXE_LANGUAGE = "1033"
# The long names of more than eight characters, with the short names Windows Installer wants beside them.
SHORT_NAMES = {"Frostpane": "FROSTP~1|Frostpane", "Frostpane.exe": "FROSTP~1.EXE|Frostpane.exe"}
# The components, whose Guid<name> the source takes.
COMPONENTS = ("Program", "StartMenuEntry", "StartMenuEntryNoKey", "ForUser", "ForMachine")
# Which of them an install takes: the Start-menu entry with its key or without (NOSHORTCUTKEY=1), and the marker of
# the context it installs in.
CONDITIONS = {"StartMenuEntry": "NOT NOSHORTCUTKEY", "StartMenuEntryNoKey": "NOSHORTCUTKEY",
              "ForUser": "NOT ALLUSERS", "ForMachine": "ALLUSERS"}

# The public properties that pass from the client to the install's server side.
SECURE = ("EARLIERFROSTPANE", "FORMACHINE", "FORMACHINE64", "FORUSER", "LATERFROSTPANE", "NOSHORTCUTKEY")

ARCH = {"x86": ("x86", "ProgramFilesFolder", "no"), "x64": ("x64", "ProgramFiles64Folder", "yes")}


def _code(name):
    return "{%s}" % str(uuid.uuid5(uuid.UUID(UPGRADE_CODE), name)).upper()


def product_code(version, flavour, exe):
    """A code of its own for each package's content: the version, the flavour, the exe's bytes and the installer's
    source. Another build of the same version whose exe differs is then another product, which the Upgrade table
    replaces (one product code with two packages would make Windows refuse the second with error 1638); the same
    bytes always give the same code, so installing the same package again changes nothing."""
    content = hashlib.sha256()
    for part in (version, flavour, Path(exe).read_bytes(), ICON.read_bytes(), SOURCE.read_bytes(),
                 "\n".join(_fixes(version, flavour))):
        content.update(part if isinstance(part, bytes) else part.encode())
        content.update(b"\0")
    return _code("Frostpane %s %s %s" % (version, flavour, content.hexdigest()))


def build(exe, flavour, version, out):
    """Writes the MSI of `flavour` holding `exe` as Frostpane.exe, for `version` ("1.0.0.1"), to `out`."""
    arch, program_files, win64 = ARCH[flavour]
    with tempfile.TemporaryDirectory(prefix="frostpane-msi-") as stage:
        # wixl finds its sources by names relative to the folder it runs in.
        shutil.copyfile(exe, os.path.join(stage, "Frostpane.exe"))
        shutil.copyfile(ICON, os.path.join(stage, "Frostpane.ico"))
        os.utime(os.path.join(stage, "Frostpane.exe"), (PACKED_AT, PACKED_AT))
        msi = os.path.join(stage, "Frostpane.msi")
        defines = {"Version": version, "Flavour": flavour, "ProductCode": product_code(version, flavour, exe),
                   "UpgradeCode": UPGRADE_CODE, "ProgramFiles": program_files, "Win64": win64}
        # Each component is the same in every version of a flavour, and differs between the two, whose registry
        # values lie in different views of the registry.
        for component in COMPONENTS:
            defines["Guid" + component] = _code("%s %s" % (component, flavour))
        command = ["wixl", "--arch", arch, "-o", msi, str(SOURCE)]
        for name, value in defines.items():
            command += ["-D", "%s=%s" % (name, value)]
        _run(command, cwd=stage, env=dict(os.environ, TZ="UTC"))
        for query in _fixes(version, flavour):
            _run(["msibuild", msi, "-q", query])
        data = bytearray(Path(msi).read_bytes())
    _set_summary(data, _PLACEHOLDER)
    _set_summary(data, "{%s}" % str(uuid.UUID(bytes=hashlib.sha256(data).digest()[:16], version=4)).upper())
    Path(out).write_bytes(data)


def _run(command, **kwargs):
    r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)
    if r.returncode != 0:
        raise RuntimeError("%s failed (%d):\n%s" % (" ".join(command), r.returncode, r.stdout))


def _fixes(version, flavour):
    """The SQL that sets what wixl does not:
    - the shortcuts point at the exe itself (wixl makes every shortcut an advertised one), and the keyed one carries
      its key (wixl ignores Hotkey);
    - the earlier versions replaced include this one (wixl ignores IncludeMaximum), so that another build of this
      version, and the other flavour of it, are replaced too;
    - the actions that set a property are plain ones (wixl marks them to run without impersonation, which only a
      deferred action can, and which a per-user package must not ask for);
    - every long name has its short name, as Windows Installer's Filename type wants them (wixl writes the long
      name alone);
    - the exe's File row has its version and language, those of its version block, so that Windows Installer's
      file-versioning rules treat it as a program, not as a data file;
    - every user's marker is written through HKMU (wixl knows no such root): HKLM per machine;
    - the properties the install's server side must see: those the Upgrade table and the searches set, and the
      one a deployment passes (wixl lists the Upgrade table's alone);
    - the components' conditions, and the removal of the Programs folder under the profile when it is left empty
      (wixl writes neither);
    - the exe already in the folder is removed before the exe is installed: another build of this version carries
      the same version, and Windows Installer's file-versioning rules keep an installed file of an equal version."""
    earlier = "`UpgradeCode`='%s' AND `ActionProperty`='EARLIERFROSTPANE'" % UPGRADE_CODE
    shortcuts = "`Shortcut`='StartMenuShortcut' OR `Shortcut`='StartMenuShortcutNoKey'"
    return [
        "UPDATE `Shortcut` SET `Target`='[#Frostpane.exe]' WHERE " + shortcuts,
        "UPDATE `Shortcut` SET `Name`='%s' WHERE %s" % (SHORT_NAMES["Frostpane"], shortcuts),
        "UPDATE `Shortcut` SET `Hotkey`=%d WHERE `Shortcut`='StartMenuShortcut'" % HOTKEY,
        "DELETE FROM `Upgrade` WHERE " + earlier,
        "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty`) "
        "VALUES ('%s', '0.0.0', '%s', 768, 'EARLIERFROSTPANE')" % (UPGRADE_CODE, version),
        "UPDATE `CustomAction` SET `Type`=51 WHERE `Type`=2099",
        "UPDATE `File` SET `FileName`='%s', `Version`='%s', `Language`='%s' WHERE `File`='Frostpane.exe'"
        % (SHORT_NAMES["Frostpane.exe"], version, EXE_LANGUAGE),
        "UPDATE `Directory` SET `DefaultDir`='%s' WHERE `Directory`='INSTALLDIR'" % SHORT_NAMES["Frostpane"],
        "UPDATE `Registry` SET `Root`=-1 WHERE `Component_`='ForMachine'",
        "UPDATE `Property` SET `Value`='%s' WHERE `Property`='SecureCustomProperties'" % ";".join(SECURE),
    ] + ["UPDATE `Component` SET `Condition`='%s' WHERE `Component`='%s'" % (condition, component)
         for component, condition in CONDITIONS.items()] + [
        "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) "
        "VALUES ('RemoveProgramsFolder', 'Program', 'UserPrograms', 2)",
        "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) "
        "VALUES ('ReplaceExe', 'Program', '%s', 'INSTALLDIR', 1)" % SHORT_NAMES["Frostpane.exe"]]


# The summary information, patched in place in the compound file that holds it


def _stream_extents(data, name):
    """[(file offset, length)] of the stream `name` in a compound file, in stream order."""
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
    directory = struct.unpack_from("<I", data, 0x30)[0]
    cutoff, minifat_start = struct.unpack_from("<II", data, 0x38)
    difat_next, difat_count = struct.unpack_from("<II", data, 0x44)
    fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
    per_sector = sector // 4
    for _ in range(difat_count):
        entries = struct.unpack_from("<%dI" % per_sector, data, (difat_next + 1) * sector)
        fat_sectors += entries[:-1]
        difat_next = entries[-1]
    fat = []
    for s in fat_sectors:
        if s < 0xFFFFFFFA:
            fat += struct.unpack_from("<%dI" % per_sector, data, (s + 1) * sector)

    def chain(start, table):
        out = []
        while start < 0xFFFFFFFA:
            out.append(start)
            start = table[start]
        return out

    entries = b"".join(data[(s + 1) * sector:(s + 2) * sector] for s in chain(directory, fat))
    wanted = name.encode("utf-16-le")
    for at in range(0, len(entries), 128):
        length = struct.unpack_from("<H", entries, at + 64)[0]
        if at == 0:
            root_start = struct.unpack_from("<I", entries, at + 0x74)[0]
        if length >= 2 and entries[at:at + length - 2] == wanted:
            start, size = struct.unpack_from("<IQ", entries, at + 0x74)
            break
    else:
        raise ValueError("no stream %r in the package" % name)
    if size >= cutoff:
        return [((s + 1) * sector, min(sector, size - i * sector)) for i, s in enumerate(chain(start, fat))]
    minifat = b"".join(data[(s + 1) * sector:(s + 2) * sector] for s in chain(minifat_start, fat))
    ministream = chain(root_start, fat)
    extents = []
    for i, m in enumerate(chain(start, struct.unpack("<%dI" % (len(minifat) // 4), minifat))):
        host, offset = divmod(m * mini, sector)
        extents.append(((ministream[host] + 1) * sector + offset, min(mini, size - i * mini)))
    return extents


def _set_summary(data, package_code):
    """Sets the package code and the creation and last-saved times of the summary information, in place."""
    extents = _stream_extents(data, "\x05SummaryInformation")
    stream = bytearray(b"".join(data[o:o + n] for o, n in extents))
    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    for i in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        at = section + offset
        kind = struct.unpack_from("<I", stream, at)[0]
        if pid == 9 and kind == 30:  # the package code, a string of 38 characters and its terminator
            text = package_code.encode("ascii") + b"\0"
            if struct.unpack_from("<I", stream, at + 4)[0] != len(text):
                raise ValueError("the package code in the summary information is not a braced GUID")
            stream[at + 8:at + 8 + len(text)] = text
        elif pid in (12, 13) and kind == 64:  # created and last saved, FILETIMEs
            struct.pack_into("<Q", stream, at + 4, _FILETIME)
    position = 0
    for offset, length in extents:
        data[offset:offset + length] = stream[position:position + length]
        position += length
