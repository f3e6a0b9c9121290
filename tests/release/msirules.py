"""The rules Windows Installer's validation (its ICEs) holds a package to, as Microsoft documents each, checked from
a package's tables: no validator runs on Linux, and Wine's Windows Installer validates nothing. Each rule takes
the tables ({table: [row as {column: text}]}) and returns its findings, each naming its ICE; none means the package
keeps the rule.

A package installs per user unless ALLUSERS is set: the folders of the user's profile are then the user's own,
and the profile's folders that do not follow ALLUSERS (LocalAppDataFolder among them) stay the user's even per
machine.
"""

import re

# The folder properties that lie in the user's profile when a package installs per user.
PROFILE_FOLDERS = {"AppDataFolder", "LocalAppDataFolder", "DesktopFolder", "FavoritesFolder",
                   "MyPicturesFolder", "NetHoodFolder", "PersonalFolder", "PrintHoodFolder", "ProgramMenuFolder",
                   "RecentFolder", "SendToFolder", "StartMenuFolder", "StartupFolder", "TemplateFolder",
                   "AdminToolsFolder"}
# Of those, the ones ALLUSERS does not move to every user's profile.
PER_USER_ALWAYS = {"LocalAppDataFolder", "FavoritesFolder", "MyPicturesFolder", "NetHoodFolder", "PersonalFolder",
                   "PrintHoodFolder", "RecentFolder", "SendToFolder"}
# The system folders a package that installs per user must not name.
MACHINE_FOLDERS = {"CommonAppDataFolder", "CommonFilesFolder", "CommonFiles64Folder", "ProgramFilesFolder",
                   "ProgramFiles64Folder", "System16Folder", "SystemFolder", "System64Folder", "WindowsFolder",
                   "WindowsVolume", "FontsFolder", "TempFolder"}
HKCR, HKCU, HKLM, HKU, HKMU = 0, 1, 2, 3, -1
REGISTRY_KEY_PATH = 4  # msidbComponentAttributesRegistryKeyPath
ONLY_DETECT, MIN_INCLUSIVE, MAX_INCLUSIVE = 2, 256, 512
NO_IMPERSONATE = 2048  # msidbCustomActionTypeNoImpersonate: an action that runs elevated


def _rows(tables, name):
    return tables.get(name, [])


def _folders(tables):
    """{directory: chain of its ancestors' keys, itself first}."""
    parents = {d["Directory"]: d["Directory_Parent"] for d in _rows(tables, "Directory")}
    chains = {}
    for directory in parents:
        chain, at = [], directory
        while at and at not in chain:
            chain.append(at)
            at = parents.get(at) if parents.get(at) != at else None
        chains[directory] = chain
    return chains


def _in(tables, folders):
    """The directories that lie in one of folders (the folder properties themselves left out)."""
    return {d for d, chain in _folders(tables).items() if set(chain[1:]) & folders and d not in folders}


def _in_profile(tables, directory):
    chain = _folders(tables).get(directory, [directory])
    return bool(set(chain) & PROFILE_FOLDERS)


def _key_path_root(tables, component):
    """The root of a component's key path where it is a registry value, else None."""
    if not int(component["Attributes"] or 0) & REGISTRY_KEY_PATH:
        return None
    for row in _rows(tables, "Registry"):
        if row["Registry"] == component["KeyPath"] and row["Component_"] == component["Component"]:
            return int(row["Root"])
    return None


def _has_shortcut(tables, component):
    features = {f["Feature"] for f in _rows(tables, "Feature")}
    return [s for s in _rows(tables, "Shortcut") if s["Component_"] == component and s["Target"] not in features]


# The rules

_NOT_IN_ANY_NAME = set('\\/?|><:*"')
_NOT_IN_SHORT_NAME = set("+,;=[] ")


def _filename_findings(value, where):
    """ICE03's Filename syntax: 'short' or 'short|long', the short one 8.3."""
    parts = value.split("|")
    if len(parts) > 2 or not parts[0]:
        return ["ICE03: %s: %r is not a short name or short|long" % (where, value)]
    short = parts[0]
    found = []
    stem, _dot, extension = short.partition(".")
    if (len(stem) > 8 or len(extension) > 3 or "." in extension or not stem
            or set(short) & (_NOT_IN_ANY_NAME | _NOT_IN_SHORT_NAME)):
        found.append("ICE03: %s: %r is not a valid short (8.3) name" % (where, value))
    if len(parts) == 2 and (not parts[1] or set(parts[1]) & _NOT_IN_ANY_NAME):
        found.append("ICE03: %s: %r has an invalid long name" % (where, value))
    return found


def ice03_names(tables):
    """Every File, Directory and Shortcut name a valid Filename (a directory's DefaultDir target[:source]; a root's
    names the source root, not a folder, and is not a file name)."""
    found = []
    for row in _rows(tables, "File"):
        found += _filename_findings(row["FileName"], "File " + row["File"])
    for row in _rows(tables, "Directory"):
        if not row["Directory_Parent"] or row["Directory_Parent"] == row["Directory"]:
            continue
        for part in row["DefaultDir"].split(":"):
            if part != ".":
                found += _filename_findings(part, "Directory " + row["Directory"])
    for row in _rows(tables, "Shortcut"):
        found += _filename_findings(row["Name"], "Shortcut " + row["Shortcut"])
    for row in _rows(tables, "RemoveFile"):
        if row["FileName"]:
            found += _filename_findings(row["FileName"], "RemoveFile " + row["FileKey"])
    return found


def ice18_directory_key_paths(tables):
    """A component whose key path is its directory (KeyPath null) creates that directory (CreateFolder), and the
    directory is not a system folder."""
    created = {(r["Directory_"], r["Component_"]) for r in _rows(tables, "CreateFolder")}
    found = []
    for c in _rows(tables, "Component"):
        if c["KeyPath"]:
            continue
        if (c["Directory_"], c["Component"]) not in created or c["Directory_"] in MACHINE_FOLDERS | PROFILE_FOLDERS:
            found.append("ICE18: component %s has its directory %s as key path, which it does not create"
                         % (c["Component"], c["Directory_"]))
    return found


def ice38_profile_components(tables):
    """A component installed under the user's profile has an HKCU registry value as its key path."""
    return ["ICE38: component %s installs to the user profile; its key path must be an HKCU registry value"
            % c["Component"] for c in _rows(tables, "Component")
            if _in_profile(tables, c["Directory_"]) and _key_path_root(tables, c) != HKCU]


def ice43_shortcut_components(tables):
    """A component with a non-advertised shortcut has an HKCU registry value as its key path."""
    return ["ICE43: component %s has non-advertised shortcuts; its key path must be an HKCU registry value"
            % c["Component"] for c in _rows(tables, "Component")
            if _has_shortcut(tables, c["Component"]) and _key_path_root(tables, c) != HKCU]


def ice57_per_user_and_per_machine(tables):
    """No component mixes per-user and per-machine data (HKCU values, files and shortcuts in the profile; HKLM and
    HKCR values, files elsewhere); an HKMU value, either of them, is not mixed with per-user data, nor made the
    companion of a per-machine key path."""
    files = {}
    for f in _rows(tables, "File"):
        files.setdefault(f["Component_"], []).append(f)
    found = []
    for c in _rows(tables, "Component"):
        name = c["Component"]
        user = machine = either = False
        for r in _rows(tables, "Registry"):
            if r["Component_"] == name:
                root = int(r["Root"])
                user |= root == HKCU
                machine |= root in (HKLM, HKCR)
                either |= root == HKMU
        in_profile = _in_profile(tables, c["Directory_"])
        if files.get(name) or _has_shortcut(tables, name):
            user |= in_profile
            machine |= not in_profile
        key_root = _key_path_root(tables, c)
        if key_root is not None:
            key = "user" if key_root == HKCU else "either" if key_root == HKMU else "machine"
        elif c["KeyPath"]:
            key = "user" if in_profile else "machine"
        else:
            key = None
        if user and machine and key == "machine":
            found.append("ICE57: component %s has per-user and per-machine data with a per-machine key path" % name)
        if either and key == "machine":
            found.append("ICE57: component %s has a value that can be per-user or per-machine and a per-machine "
                         "key path" % name)
        if user and key == "either":
            found.append("ICE57: component %s has per-user data and a key path that can be per-user or per-machine"
                         % name)
    return found


def ice64_profile_folders_removed(tables):
    """Every folder the package makes in the user's profile is removed on uninstall (a RemoveFile row with no file
    name for it), so that it does not linger in a roaming profile."""
    removed = {r["DirProperty"] for r in _rows(tables, "RemoveFile") if not r["FileName"]
               and int(r["InstallMode"] or 0) & 2}
    return ["ICE64: the directory %s is in the user profile but is not listed in the RemoveFile table" % d
            for d in sorted(_in(tables, PROFILE_FOLDERS)) if d not in removed]


def ice91_per_user_folders(tables):
    """A file or shortcut in a profile folder that ALLUSERS does not move would stay with one user when the package
    installs per machine: its folder must be moved for every user (a property-setting action, conditioned on
    ALLUSERS, before CostFinalize in both sequences), or the package must install per user only. ICE91 itself
    reads the Directory table alone and warns; this is the rule's intent, which the package keeps by moving the
    folder."""
    moved = set()
    for action in _rows(tables, "CustomAction"):
        if int(action["Type"]) & 0x3F != 51:
            continue
        steps = [next((r for r in _rows(tables, s) if r["Action"] == action["Action"]), None)
                 for s in ("InstallUISequence", "InstallExecuteSequence")]
        finalize = [next((int(r["Sequence"]) for r in _rows(tables, s) if r["Action"] == "CostFinalize"), 0)
                    for s in ("InstallUISequence", "InstallExecuteSequence")]
        if all(step and "ALLUSERS" in step["Condition"] and int(step["Sequence"]) < f
               for step, f in zip(steps, finalize)):
            moved.add(action["Source"])
    chains = _folders(tables)
    placed = [("file", f["File"], c["Directory_"]) for f in _rows(tables, "File")
              for c in _rows(tables, "Component") if c["Component"] == f["Component_"]]
    placed += [("shortcut", s["Shortcut"], s["Directory_"]) for s in _rows(tables, "Shortcut")]
    found = []
    for kind, name, directory in placed:
        chain = chains.get(directory, [directory])
        if set(chain) & PER_USER_ALWAYS and not set(chain) & moved:
            found.append("ICE91: the %s %s goes to the per-user folder %s, which does not follow ALLUSERS"
                         % (kind, name, directory))
    return found


def ice105_per_user_package(tables):
    """A package that installs per user asks for no elevation: no action runs without impersonation, the Directory
    table names no system folder, and nothing is written under HKLM (HKMU is HKCU per user), nor services or data
    sources installed."""
    found = ["ICE105: custom action %s runs elevated (no impersonation)" % a["Action"]
             for a in _rows(tables, "CustomAction") if int(a["Type"]) & NO_IMPERSONATE]
    found += ["ICE105: the Directory table names the system folder %s" % d["Directory"]
              for d in _rows(tables, "Directory") if d["Directory"] in MACHINE_FOLDERS]
    found += ["ICE105: registry value %s is written under HKLM" % r["Registry"]
              for r in _rows(tables, "Registry") if int(r["Root"]) == HKLM]
    found += ["ICE105: the package installs the %s %s" % (t, r[next(iter(r))])
              for t in ("ServiceInstall", "ODBCDataSource") for r in _rows(tables, t)]
    return found


def _version(text):
    """A product version as a tuple of its first three fields, which is all Windows Installer compares; None where
    it is not one (major and minor below 256, build below 65536)."""
    if not re.fullmatch(r"\d+(\.\d+){0,3}", text or ""):
        return None
    parts = [int(p) for p in text.split(".")] + [0, 0]
    if parts[0] > 255 or parts[1] > 255 or parts[2] > 65535:
        return None
    return tuple(parts[:3])


def ice61_upgrades(tables):
    """The Upgrade table: each action property public, in SecureCustomProperties, not authored in the Property
    table and used by one row alone; valid versions, the maximum not below the minimum; no removal of a later
    version. (ICE61 warns too where a row removes the same version as the package: that is what lets another build
    of a version replace the one installed, and so it is not a finding here.)"""
    properties = {r["Property"]: r["Value"] for r in _rows(tables, "Property")}
    secure = set(properties.get("SecureCustomProperties", "").split(";"))
    current = _version(properties.get("ProductVersion"))
    found, seen = [], set()
    for row in _rows(tables, "Upgrade"):
        action = row["ActionProperty"]
        if action != action.upper():
            found.append("ICE61: Upgrade.ActionProperty %s must not contain lowercase letters" % action)
        if action not in secure:
            found.append("ICE61: Upgrade.ActionProperty %s must be added to SecureCustomProperties" % action)
        if action in properties:
            found.append("ICE61: Upgrade.ActionProperty %s must not be authored in the Property table" % action)
        if action in seen:
            found.append("ICE61: Upgrade.ActionProperty %s may be used in only one record" % action)
        seen.add(action)
        low, high = row["VersionMin"], row["VersionMax"]
        for text in (low, high):
            if text and _version(text) is None:
                found.append("ICE61: %r (%s) is not a valid product version" % (text, action))
        if low and high and _version(low) and _version(high) and _version(high) < _version(low):
            found.append("ICE61: Upgrade.VersionMax cannot be less than Upgrade.VersionMin (%s)" % action)
        removes = not int(row["Attributes"] or 0) & ONLY_DETECT
        if removes and (not high or (_version(high) and current and _version(high) > current)):
            found.append("ICE61: %s would remove a later version than this product's" % action)
    return found


def launch_conditions(tables):
    """Each launch condition lets an installed product be removed (it holds whenever Installed is set), and the
    properties it reads are set by the Upgrade table or a search, secure so that they reach the install's
    server side."""
    properties = {r["Property"]: r["Value"] for r in _rows(tables, "Property")}
    secure = set(properties.get("SecureCustomProperties", "").split(";"))
    found_by = {r["ActionProperty"] for r in _rows(tables, "Upgrade")} | {r["Property"]
                                                                         for r in _rows(tables, "AppSearch")}
    known = found_by | {"Installed", "ALLUSERS", "NOT", "AND", "OR"}
    found = []
    for row in _rows(tables, "LaunchCondition"):
        condition = row["Condition"]
        if not re.match(r"^\s*Installed\s+OR\s", condition):
            found.append("LaunchCondition %r would stop the product's own uninstall: it must hold when Installed"
                         % condition)
        for word in re.findall(r"[A-Za-z_][A-Za-z0-9_.]*", condition):
            if word not in known:
                found.append("LaunchCondition %r reads %s, which nothing in the package sets" % (condition, word))
            elif word in found_by and word not in secure:
                found.append("LaunchCondition %r reads %s, which is not in SecureCustomProperties"
                             % (condition, word))
        if not row["Description"]:
            found.append("LaunchCondition %r has no message" % condition)
    return found


RULES = [ice03_names, ice18_directory_key_paths, ice38_profile_components, ice43_shortcut_components,
         ice57_per_user_and_per_machine, ice61_upgrades, ice64_profile_folders_removed, ice91_per_user_folders,
         ice105_per_user_package, launch_conditions]
