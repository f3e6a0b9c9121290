"""Frostpane's package-manager manifests, written into a release folder that scripts/package has just filled, for
the release as published at a base URL (the folder's files uploaded there as they are): the Windows Package
Manager's three files (manifest 1.12.0) in winget/, and Scoop's frostpane.json in scoop/.

Every fact in them is read from the packages: each file's SHA-256, and from each installer its product and upgrade
codes, name, publisher and version (its Property table) and its platform (its summary information). The texts are
written here, YAML by hand and JSON in a fixed key order, so that the same release and base URL give the same
bytes and packaging needs nothing beyond the standard library and msitools.

Usage: python3 packaging/manifests.py FOLDER BASE_URL [--homepage URL]   (scripts/package --manifests calls write)
"""

import argparse
import hashlib
import json
import re
import subprocess
import sys
from pathlib import Path

IDENTIFIER = "Tapwright.Frostpane"
MANIFEST_VERSION = "1.12.0"
SCHEMA = "https://aka.ms/winget-manifest.%s.%s.schema.json"
# The repository states no licence: this is what is true until its owner chooses one.
LICENSE = "Proprietary"
SHORT_DESCRIPTION = "Freezes the screen: holds a still picture of it in front of you until a key or a click."
DESCRIPTION = ("Started, Frostpane photographs the primary monitor, saves the picture as a BMP file in a folder under "
               "your temporary directory and shows it in a borderless, topmost window over that monitor, so the "
               "desktop seems to stand still. Press a key, or click, and it closes.")
TAGS = ["screenshot", "screen-capture", "freeze"]
# The summary information's platform, as Windows Installer names it, by the architecture package managers name.
PLATFORMS = {"Intel": "x86", "x64": "x64"}
SCOOP_ARCHITECTURES = {"x64": "64bit", "x86": "32bit"}
# What the installers take from the command line: per user by default, with no elevation; for every user, which
# needs an administrator, with this.
MACHINE_SWITCH = "ALLUSERS=1"
GITHUB_RELEASE = re.compile(r"^https://github\.com/([^/]+)/([^/]+)/releases/download/")


def _msiinfo(*args):
    return subprocess.run(["msiinfo"] + [str(a) for a in args], check=True, stdout=subprocess.PIPE, text=True,
                          timeout=60).stdout


def installer_facts(path):
    """{ProductCode, UpgradeCode, Manufacturer, ProductName, ProductVersion, Architecture} of an MSI."""
    rows = _msiinfo("export", path, "Property").split("\n")[3:]
    properties = dict(row.split("\t", 1) for row in rows if row)
    facts = {name: properties[name]
             for name in ("ProductCode", "UpgradeCode", "Manufacturer", "ProductName", "ProductVersion")}
    summary = dict(line.split(": ", 1) for line in _msiinfo("suminfo", path).splitlines() if ": " in line)
    platform = summary["Template"].split(";")[0]
    if platform not in PLATFORMS:
        raise SystemExit("%s: a package for %s, which the manifests do not describe" % (path.name, platform))
    facts["Architecture"] = PLATFORMS[platform]
    return facts


def _sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def read_release(folder):
    """(the installers' shared facts, {architecture: (msi name, its SHA-256, zip name, its SHA-256, product code)})
    from the MSIs of a release folder and the zips beside them."""
    shared, packages = None, {}
    for msi in sorted(folder.glob("Frostpane-*.msi")):
        facts = installer_facts(msi)
        architecture = facts.pop("Architecture")
        product_code = facts.pop("ProductCode")
        if shared not in (None, facts):
            raise SystemExit("the installers disagree: %s and %s" % (shared, facts))
        shared = facts
        zip_file = folder / ("Frostpane-%s-%s.zip" % (facts["ProductVersion"], architecture))
        if architecture in packages or not zip_file.is_file():
            raise SystemExit("%s: no zip %s beside it, or another installer for %s" % (msi.name, zip_file.name,
                                                                                     architecture))
        packages[architecture] = (msi.name, _sha256(msi), zip_file.name, _sha256(zip_file), product_code)
    if sorted(packages) != sorted(PLATFORMS.values()):
        raise SystemExit("%s holds installers for %s, not x86 and x64" % (folder, ", ".join(packages) or "nothing"))
    return shared, packages


def _scalar(value):
    # Plain where YAML cannot read it as anything but this string; quoted otherwise, a version among them.
    if re.fullmatch(r"[A-Za-z][A-Za-z0-9.-]*", value) and value.lower() not in (
            "y", "n", "yes", "no", "on", "off", "true", "false", "null"):
        return value
    return json.dumps(value)


def _yaml(value, indent=""):
    """The lines of a mapping whose values are strings, mappings, or lists of strings or of mappings."""
    lines = []
    for key, item in value.items():
        if isinstance(item, str):
            lines.append("%s%s: %s" % (indent, key, _scalar(item)))
        elif isinstance(item, dict):
            lines += ["%s%s:" % (indent, key)] + _yaml(item, indent + "  ")
        else:
            lines.append("%s%s:" % (indent, key))
            for element in item:
                if isinstance(element, dict):
                    nested = _yaml(element, indent + "  ")
                    lines += [indent + "- " + nested[0][len(indent) + 2:]] + nested[1:]
                else:
                    lines.append("%s- %s" % (indent, _scalar(element)))
    return lines


def _winget_file(kind, fields):
    head = {"PackageIdentifier": IDENTIFIER, "PackageVersion": fields.pop("PackageVersion")}
    tail = {"ManifestType": kind, "ManifestVersion": MANIFEST_VERSION}
    return "\n".join(["# yaml-language-server: $schema=" + SCHEMA % (kind.lower(), MANIFEST_VERSION), ""] +
                     _yaml(dict(head, **fields, **tail))) + "\n"


def winget(shared, packages, base_url, homepage):
    """{file name: text} of the three winget files."""
    version = shared["ProductVersion"]
    installers = []
    for architecture in sorted(packages):
        msi, digest, _zip, _zip_digest, product_code = packages[architecture]
        for scope in ("user", "machine"):
            installer = {"Architecture": architecture, "Scope": scope, "InstallerUrl": base_url + msi,
                         "InstallerSha256": digest.upper()}
            if scope == "machine":
                # winget passes nothing for an MSI's machine scope itself.
                installer["InstallerSwitches"] = {"Custom": MACHINE_SWITCH}
                installer["ElevationRequirement"] = "elevationRequired"
            installer["ProductCode"] = product_code
            installer["AppsAndFeaturesEntries"] = [{
                "DisplayName": shared["ProductName"], "Publisher": shared["Manufacturer"], "DisplayVersion": version,
                "ProductCode": product_code, "UpgradeCode": shared["UpgradeCode"]}]
            installers.append(installer)
    return {
        IDENTIFIER + ".yaml": _winget_file("version", {"PackageVersion": version, "DefaultLocale": "en-US"}),
        IDENTIFIER + ".installer.yaml": _winget_file("installer", {
            "PackageVersion": version, "InstallerType": "wix",
            "InstallModes": ["interactive", "silent", "silentWithProgress"],
            # Each installer removes any installed Frostpane of its version or earlier, of either flavour, first.
            "UpgradeBehavior": "install", "Installers": installers}),
        IDENTIFIER + ".locale.en-US.yaml": _winget_file("defaultLocale", {
            "PackageVersion": version, "PackageLocale": "en-US", "Publisher": shared["Manufacturer"],
            "PackageName": shared["ProductName"], "PackageUrl": homepage, "License": LICENSE,
            "ShortDescription": SHORT_DESCRIPTION, "Description": DESCRIPTION, "Tags": TAGS}),
    }


def scoop(shared, packages, base_url, homepage, homepage_given):
    """The text of Scoop's manifest: the zips, with no shortcut key (Scoop gives its shortcuts none)."""
    version = shared["ProductVersion"]
    architecture = {SCOOP_ARCHITECTURES[a]: {"url": base_url + packages[a][2], "hash": packages[a][3]}
                    for a in SCOOP_ARCHITECTURES}
    manifest = {"version": version, "description": SHORT_DESCRIPTION, "homepage": homepage, "license": LICENSE,
                "architecture": architecture, "bin": "Frostpane.exe", "shortcuts": [["Frostpane.exe", "Frostpane"]]}
    # A later release is found where a page names it: a GitHub repository's releases, or a homepage of its own
    # that links the newest zip; and its URLs follow where this one's carry the version.
    github = GITHUB_RELEASE.match(base_url)
    if version in base_url and (github or homepage_given):
        if github:
            manifest["checkver"] = {"github": "https://github.com/%s/%s" % github.groups()}
        else:
            manifest["checkver"] = {"url": homepage, "regex": r"Frostpane-([\d.]+)-x64\.zip"}
        manifest["autoupdate"] = {"architecture": {
            name: {"url": entry["url"].replace(version, "$version"), "hash": {"url": "$baseurl/SHA256SUMS"}}
            for name, entry in architecture.items()}}
    return json.dumps(manifest, indent=4) + "\n"


def write(folder, base_url, homepage=None):
    """Writes folder/winget/ and folder/scoop/frostpane.json for the release in folder published at base_url;
    returns the paths written."""
    folder = Path(folder)
    for url in (base_url, homepage or base_url):
        if not re.match(r"^https?://[^/\s]+[^\s]*$", url):
            raise SystemExit("%r is not an http or https URL" % url)
    base_url = base_url if base_url.endswith("/") else base_url + "/"
    shared, packages = read_release(folder)
    files = {"winget/" + name: text
             for name, text in winget(shared, packages, base_url, homepage or base_url).items()}
    files["scoop/frostpane.json"] = scoop(shared, packages, base_url, homepage or base_url, bool(homepage))
    written = []
    for name, text in files.items():
        path = folder / name
        path.parent.mkdir(exist_ok=True)
        path.write_text(text)
        written.append(path)
    return written


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", help="a release folder, as scripts/package writes it")
    parser.add_argument("base_url", help="where the folder's files are published")
    parser.add_argument("--homepage", help="the program's homepage (default: the base URL)")
    args = parser.parse_args(argv)
    for path in write(args.folder, args.base_url, args.homepage):
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
