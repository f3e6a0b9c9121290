"""The package managers' manifests that scripts/package --manifests writes beside a release, read as winget and
Scoop read them: YAML and JSON that parse; every field the schemas require, and each field's type, enum, pattern
and length, as written here from the rules of winget's manifest schema 1.12.0 and Scoop's app manifest schema; no
field without a rule here (a field the writer starts to use gets its rule from the schema first); and the facts
against the packages beside them: each URL, SHA-256, product and upgrade code, architecture and scope.

The release is the one test_release.py checks: FROSTPANE_DIST when set, else scripts/package --no-build. Each check
is shown to bite: every breakage in BREAKAGES, applied to the good manifests, is reported.
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path
from urllib.parse import urlsplit

import pytest
import yaml

import test_release

REPO = Path(__file__).resolve().parents[2]
BASE_URL = "https://example.org/frostpane/%s/" % test_release.VERSION
HOMEPAGE = "https://example.org/frostpane/"
WINGET = ["winget/Tapwright.Frostpane%s.yaml" % kind for kind in ("", ".installer", ".locale.en-US")]
SCOOP = "scoop/frostpane.json"


# Rules: a string with its limits, a list of items, a mapping of known fields, or either of several.

def text(pattern=None, lo=0, hi=None, enum=None, uri=False, regex=False, test=None):
    return {"kind": "text", "pattern": pattern, "lo": lo, "hi": hi, "enum": enum, "uri": uri, "regex": regex,
            "test": test}


def items(rule, lo=0, hi=None, unique=False):
    return {"kind": "items", "rule": rule, "lo": lo, "hi": hi, "unique": unique}


def fields(required=(), **rules):
    return {"kind": "fields", "required": required, "rules": rules}


def either(*rules):
    return {"kind": "either", "rules": rules}


def check(value, rule, where):
    """The ways value breaks rule, each a line naming where."""
    kind = rule["kind"]
    if kind == "either":
        found = [check(value, r, where) for r in rule["rules"]]
        # The faults of the rules for what the value is, a string, a list or a mapping, say what is wrong with it.
        typed = [f for f in found if not (len(f) == 1 and re.search("is not a (string|list|mapping)$", f[0]))]
        return [] if [] in found else min(typed or found, key=len)
    if kind == "text":
        if not isinstance(value, str):
            return ["%s: %r is not a string" % (where, value)]
        faults = []
        if rule["enum"] and value not in rule["enum"]:
            faults.append("%s: %r is not one of %s" % (where, value, ", ".join(rule["enum"])))
        if rule["pattern"] and not re.search(rule["pattern"], value):
            faults.append("%s: %r does not match %s" % (where, value, rule["pattern"]))
        if len(value) < rule["lo"] or len(value) > (rule["hi"] or len(value)):
            faults.append("%s: %d characters, not %d to %s" % (where, len(value), rule["lo"], rule["hi"]))
        if rule["uri"] and not (urlsplit(value).scheme and urlsplit(value).netloc and " " not in value):
            faults.append("%s: %r is not a URI" % (where, value))
        if rule["regex"]:
            try:
                re.compile(value)
            except re.error:
                faults.append("%s: %r is not a regular expression" % (where, value))
        if rule["test"] and not rule["test"](value):
            faults.append("%s: %r is not %s" % (where, value, rule["test"].__doc__))
        return faults
    if kind == "items":
        if not isinstance(value, list):
            return ["%s: %r is not a list" % (where, value)]
        faults = []
        if len(value) < rule["lo"] or len(value) > (rule["hi"] or len(value)):
            faults.append("%s: %d items, not %d to %s" % (where, len(value), rule["lo"], rule["hi"]))
        if rule["unique"] and len({json.dumps(v, sort_keys=True) for v in value}) < len(value):
            faults.append("%s: items repeat" % where)
        return faults + [f for i, v in enumerate(value) for f in check(v, rule["rule"], "%s[%d]" % (where, i))]
    if not isinstance(value, dict):
        return ["%s: %r is not a mapping" % (where, value)]
    faults = ["%s.%s: required" % (where, name) for name in rule["required"] if name not in value]
    for name, v in value.items():
        if name in rule["rules"]:
            faults += check(v, rule["rules"][name], "%s.%s" % (where, name))
        else:
            faults.append("%s.%s: not a field the schema knows" % (where, name))
    return faults


def _below_65536(value):
    """three numbers of 0 to 65535 without leading zeros"""
    return all(part == str(int(part)) and int(part) <= 65535 for part in value.split("."))


# winget, manifest schema 1.12.0
_PART = r'[^.\s\\/:*?"<>|\x01-\x1f]{1,32}'
IDENTIFIER = text(r"^%s(\.%s){1,7}$" % (_PART, _PART), hi=128)
PACKAGE_VERSION = text(r'^[^\\/:*?"<>|\x01-\x1f]+$', hi=128)
LOCALE = text(r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$", hi=20)
MANIFEST_VERSION = text(r"^\d+\.\d+\.\d+$", test=_below_65536)
URL = text(r"^[Hh][Tt][Tt][Pp][Ss]?://.+$", hi=2048)
CODE = text(lo=1, hi=255)
INSTALLER_TYPE = text(enum=("msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix", "burn", "pwa",
                            "portable", "font"))
SWITCH = text(lo=1, hi=512)
# What an installer and the manifest's root may both state, the root's standing for every installer.
SHARED = dict(
    InstallerType=INSTALLER_TYPE, Scope=text(enum=("user", "machine")), ProductCode=CODE,
    InstallModes=items(text(enum=("interactive", "silent", "silentWithProgress")), hi=3, unique=True),
    InstallerSwitches=fields(Silent=SWITCH, SilentWithProgress=SWITCH, Interactive=SWITCH, InstallLocation=SWITCH,
                             Log=SWITCH, Upgrade=SWITCH, Custom=text(lo=1, hi=2048), Repair=SWITCH),
    UpgradeBehavior=text(enum=("install", "uninstallPrevious", "deny")),
    ElevationRequirement=text(enum=("elevationRequired", "elevationProhibited", "elevatesSelf")),
    AppsAndFeaturesEntries=items(fields(
        DisplayName=text(lo=1, hi=256), Publisher=text(lo=1, hi=256), DisplayVersion=text(lo=1, hi=128),
        ProductCode=CODE, UpgradeCode=CODE, InstallerType=INSTALLER_TYPE), hi=128, unique=True))
INSTALLER = fields(("Architecture", "InstallerUrl", "InstallerSha256"),
                   Architecture=text(enum=("x86", "x64", "arm", "arm64", "neutral")), InstallerUrl=URL,
                   InstallerSha256=text(r"^[A-Fa-f0-9]{64}$"), **SHARED)
WINGET_RULES = {
    "version": fields(("PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"),
                      PackageIdentifier=IDENTIFIER, PackageVersion=PACKAGE_VERSION, DefaultLocale=LOCALE,
                      ManifestType=text(enum=("version",)), ManifestVersion=MANIFEST_VERSION),
    "installer": fields(("PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"),
                        PackageIdentifier=IDENTIFIER, PackageVersion=PACKAGE_VERSION,
                        Installers=items(INSTALLER, lo=1, hi=1024), ManifestType=text(enum=("installer",)),
                        ManifestVersion=MANIFEST_VERSION, **SHARED),
    "defaultLocale": fields(
        ("PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName", "License",
         "ShortDescription", "ManifestType", "ManifestVersion"),
        PackageIdentifier=IDENTIFIER, PackageVersion=PACKAGE_VERSION, PackageLocale=LOCALE,
        Publisher=text(lo=2, hi=256), PackageName=text(lo=2, hi=256), PackageUrl=URL, License=text(lo=3, hi=512),
        ShortDescription=text(lo=3, hi=256), Description=text(lo=3, hi=10000),
        Tags=items(text(lo=1, hi=40), hi=16, unique=True), ManifestType=text(enum=("defaultLocale",)),
        ManifestVersion=MANIFEST_VERSION),
}

# Scoop's app manifest schema, where a key it does not know is an error
URI = text(uri=True)
REGEX = text(regex=True)
HASH = text(r"^([0-9a-fA-F]{64}|(md5|sha1|sha256|sha512):([0-9a-fA-F]{32}|[0-9a-fA-F]{40}|[0-9a-fA-F]{64}|"
            r"[0-9a-fA-F]{128}))$")
PLAIN_URI = text(r"^[^$]*$", uri=True)  # a variable is for autoupdate only
BINS = either(text(), items(either(text(), items(text(), lo=1)), lo=1))
SHORTCUTS = items(items(text(), lo=2, hi=4), lo=1)
ARCHITECTURE = fields(url=either(PLAIN_URI, items(PLAIN_URI, lo=1, unique=True)),
                      hash=either(HASH, items(HASH, lo=1, unique=True)), bin=BINS, shortcuts=SHORTCUTS)
HASH_FROM = fields(url=either(URI, text(r"\$(url|baseurl)")), regex=REGEX, find=REGEX)
UPDATE = fields(url=either(URI, items(URI, lo=1, unique=True)), hash=either(HASH_FROM, items(HASH_FROM, lo=1)))
SCOOP_RULES = fields(
    ("version", "homepage", "license"),
    version=text(r"^[\w.\-+]+$"), description=text(), homepage=URI,
    license=either(text(), fields(("identifier",), identifier=text(), url=URI)),
    architecture=fields(**{name: ARCHITECTURE for name in ("32bit", "64bit", "arm64")}),
    url=ARCHITECTURE["rules"]["url"], hash=ARCHITECTURE["rules"]["hash"], bin=BINS, shortcuts=SHORTCUTS,
    checkver=either(REGEX, fields(github=URI, url=URI, regex=REGEX, re=REGEX)),
    autoupdate=fields(architecture=fields(**{name: UPDATE for name in ("32bit", "64bit", "arm64")}),
                      **UPDATE["rules"]))


def problems(texts, release):
    """Every fault found in the manifests ({path in the release folder: text}) of release, a line each."""
    if sorted(texts) != sorted(WINGET + [SCOOP]):
        return ["the manifests are %s" % sorted(texts)]
    faults, data = [], {}
    for name, text_ in texts.items():
        try:
            data[name] = json.loads(text_) if name.endswith(".json") else yaml.safe_load(text_)
        except (ValueError, yaml.YAMLError) as e:
            faults.append("%s does not parse: %s" % (name, e))
    if faults:
        return faults
    for name in WINGET:
        kind = data[name].get("ManifestType") if isinstance(data[name], dict) else None
        first = texts[name].split("\n", 1)[0]
        if first != "# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.1.12.0.schema.json" % (
                str(kind).lower()):
            faults.append("%s: the first line is %r" % (name, first))
        # Strings however YAML would read them unquoted.
        for key, value in yaml.compose(texts[name]).value:
            if key.value in ("PackageVersion", "ManifestVersion") and value.style not in ('"', "'"):
                faults.append("%s: %s is not quoted" % (name, key.value))
        faults += check(data[name], WINGET_RULES.get(kind, fields()), name)
    faults += check(data[SCOOP], SCOOP_RULES, SCOOP)
    if not any(isinstance(a, dict) and "url" in a for a in data[SCOOP].get("architecture", {}).values()):
        faults += check(data[SCOOP], fields(("url",), **SCOOP_RULES["rules"]), SCOOP)
    return faults or facts(data, release)


def facts(data, release):
    """What the manifests (parsed, and held to their schemas) say that the packages do not."""
    version, installer, locale = (data[name] for name in WINGET)
    faults = []

    def expect(what, found, wanted):
        if found != wanted:
            faults.append("%s is %r, not %r" % (what, found, wanted))

    msis = release["installers"]
    any_msi = msis["x64"]
    for name in WINGET:
        expect(name + " PackageIdentifier", data[name]["PackageIdentifier"], "Tapwright.Frostpane")
        expect(name + " PackageVersion", data[name]["PackageVersion"], any_msi["ProductVersion"])
        expect(name + " ManifestVersion", data[name]["ManifestVersion"], "1.12.0")
    expect("the default locale", version["DefaultLocale"], locale["PackageLocale"])
    expect("the publisher", locale["Publisher"], any_msi["Manufacturer"])
    expect("the package name", locale["PackageName"], any_msi["ProductName"])
    # The repository states no licence.
    expect("the licence", locale["License"], "Proprietary")
    kinds = sorted((i["Architecture"], i.get("Scope")) for i in installer["Installers"])
    expect("the installers' architectures and scopes", kinds,
           sorted((a, s) for a in ("x86", "x64") for s in ("user", "machine")))
    for i in installer["Installers"]:
        where = "the %s %s installer's " % (i["Architecture"], i.get("Scope"))
        msi = msis.get(i["Architecture"])
        if msi is None:
            continue
        setting = dict(installer, **i)  # the root's fields stand for each installer's own
        expect(where + "type is wix or msi", setting.get("InstallerType") in ("wix", "msi"), True)
        expect(where + "upgrade behaviour", setting.get("UpgradeBehavior"), "install")
        expect(where + "URL", i["InstallerUrl"], BASE_URL + msi["name"])
        expect(where + "SHA-256", i["InstallerSha256"].lower(), msi["sha256"])
        expect(where + "product code", i.get("ProductCode"), msi["ProductCode"])
        machine = i.get("Scope") == "machine"
        # Per user is the package's own default, which no ALLUSERS in its properties leaves it.
        expect(where + "package's ALLUSERS", msi.get("ALLUSERS"), None)
        custom = setting.get("InstallerSwitches", {}).get("Custom", "")
        expect(where + "passing ALLUSERS=1", "ALLUSERS=1" in custom.split(), machine)
        expect(where + "asking for elevation", setting.get("ElevationRequirement") == "elevationRequired", machine)
        expect(where + "entry", [{k: v for k, v in e.items() if k != "InstallerType"}
                                 for e in setting.get("AppsAndFeaturesEntries", [])],
               [{"DisplayName": msi["ProductName"], "Publisher": msi["Manufacturer"],
                 "DisplayVersion": msi["ProductVersion"], "ProductCode": msi["ProductCode"],
                 "UpgradeCode": msi["UpgradeCode"]}])
    scoop = data[SCOOP]
    expect("Scoop's version", scoop["version"], any_msi["ProductVersion"])
    expect("Scoop's licence", scoop["license"], "Proprietary")
    expect("Scoop's homepage", scoop["homepage"], release["homepage"])
    zips = release["zips"]
    expect("Scoop's architectures", sorted(scoop.get("architecture", {})), ["32bit", "64bit"])
    for name, flavour in (("32bit", "x86"), ("64bit", "x64")):
        entry = scoop.get("architecture", {}).get(name, {})
        expect("Scoop's %s URL" % name, entry.get("url"), BASE_URL + zips[flavour]["name"])
        expect("Scoop's %s hash" % name, str(entry.get("hash")).lower(), zips[flavour]["sha256"])
        expect("Scoop's %s program and shortcut in its zip" % name,
               {scoop.get("bin"), scoop.get("shortcuts", [[None]])[0][0]} <= set(zips[flavour]["members"]), True)
        update = scoop.get("autoupdate", {}).get("architecture", {}).get(name, {})
        expect("Scoop's %s update URL, for this version" % name,
               str(update.get("url")).replace("$version", scoop["version"]), entry.get("url"))
        expect("Scoop's %s update hash" % name, update.get("hash"), {"url": "$baseurl/SHA256SUMS"})
    expect("Scoop's program and shortcut", (scoop.get("bin"), scoop.get("shortcuts")),
           ("Frostpane.exe", [["Frostpane.exe", "Frostpane"]]))
    expect("Scoop's source of new versions", scoop.get("checkver"),
           {"url": release["homepage"], "regex": r"Frostpane-([\d.]+)-x64\.zip"})
    return faults


def _manifests(folder):
    return {"%s/%s" % (sub, p.name): p.read_text() for sub in ("winget", "scoop") for p in (folder / sub).glob("*")}


def _release_folder(out, *manifests):
    """A release folder at out, the packages in FROSTPANE_DIST or those scripts/package writes, with the manifests
    that scripts/package's options `manifests` write."""
    if os.environ.get("FROSTPANE_DIST"):
        out.mkdir()
        for f in Path(os.environ["FROSTPANE_DIST"]).iterdir():
            if f.is_file():
                shutil.copy(f, out)
        command = [sys.executable, str(REPO / "packaging" / "manifests.py"), str(out)] + list(manifests[1:])
    else:
        command = [str(REPO / "scripts" / "package"), "--no-build", "--out", str(out)] + list(manifests)
    if manifests or not os.environ.get("FROSTPANE_DIST"):
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=180)
    return out


@pytest.fixture(scope="module")
def release(tmp_path_factory):
    """The release folder with its manifests, and what its packages say."""
    folder = _release_folder(tmp_path_factory.mktemp("published") / "dist", "--manifests", BASE_URL, "--homepage",
                             HOMEPAGE)
    facts_ = {"folder": folder, "homepage": HOMEPAGE, "installers": {}, "zips": {}}
    packages = {f.name: f.read_bytes() for f in folder.iterdir() if f.is_file()}
    for flavour in ("x86", "x64"):
        name = "Frostpane-%s-%s.msi" % (test_release.VERSION, flavour)
        _path, _tables, properties, summary = test_release._installer(packages, flavour,
                                                                      tmp_path_factory.mktemp("msi"))
        facts_["installers"][summary["Template"].split(";")[0].replace("Intel", "x86")] = dict(
            properties, name=name, sha256=hashlib.sha256(packages[name]).hexdigest())
        name = "Frostpane-%s-%s.zip" % (test_release.VERSION, flavour)
        with zipfile.ZipFile(folder / name) as z:
            facts_["zips"][flavour] = {"name": name, "members": z.namelist(),
                                       "sha256": hashlib.sha256((folder / name).read_bytes()).hexdigest()}
    return facts_


def test_manifests_follow_their_schemas_and_the_packages(release):
    assert problems(_manifests(release["folder"]), release) == []


V, I, L = WINGET
_OLD = "{00000000-0000-0000-0000-000000000000}"
_AT = "/%s/Frostpane" % re.escape(test_release.VERSION)
# (manifest, pattern, replacement (None: the file goes), what is reported, how many matches are replaced)
BREAKAGES = [
    (L, "", None, "the manifests are", 1),
    (V, r"^# yaml-language-server.*\n", "", "the first line is", 1),
    (V, r'ManifestVersion: "1\.12\.0"', "ManifestVersion: 1.12.0", "ManifestVersion is not quoted", 1),
    (V, r'PackageVersion: "[^"]*"', "PackageVersion: 1.0", "1.0 is not a string", 1),
    (V, r"DefaultLocale: en-US\n", "", "DefaultLocale: required", 1),
    (V, r"PackageIdentifier: Tapwright\.Frostpane", "PackageIdentifier: Frostpane", "'Frostpane' does not match", 1),
    (V, r'ManifestVersion: "1\.12\.0"', 'ManifestVersion: "1.12.65536"', "is not three numbers", 1),
    (I, r"Installers:\n", "Installers:\n\t", "does not parse", 1),
    (I, r"Scope: machine", "Scope: global", "'global' is not one of user, machine", 1),
    (I, r"InstallerSha256:", "InstallerSha265:", "InstallerSha265: not a field the schema knows", 1),
    (I, r'(InstallerSha256: "?[0-9A-F]{63})[0-9A-F]', r"\1", "does not match ^[A-Fa-f0-9]{64}$", 1),
    (I, r'InstallerSha256: "?[0-9A-F]{64}"?', 'InstallerSha256: "%s"' % ("0" * 64), "installer's SHA-256", 1),
    (I, r'InstallerUrl: "https', 'InstallerUrl: "ftp', "does not match ^[Hh][Tt][Tt][Pp][Ss]?://.+$", 1),
    (I, _AT, "/1.0.0.0/Frostpane", "installer's URL", 1),
    (I, r'  ProductCode: "\{[^}]*\}"', '  ProductCode: "%s"' % _OLD, "installer's product code", 1),
    (I, r'UpgradeCode: "\{[^}]*\}"', 'UpgradeCode: "%s"' % _OLD, "installer's entry", 1),
    (I, r'  InstallerSwitches:\n    Custom: "ALLUSERS=1"\n', "", "installer's passing ALLUSERS=1", 1),
    (I, r"  ElevationRequirement: elevationRequired\n", "", "installer's asking for elevation", 1),
    (I, r"Architecture: x64", "Architecture: arm64", "architectures and scopes", 1),
    (I, r"InstallerType: wix", "InstallerType: exe", "installer's type is wix or msi", 1),
    (I, r"UpgradeBehavior: install", "UpgradeBehavior: uninstallPrevious", "upgrade behaviour", 1),
    (L, r"License: Proprietary", "License: MIT", "the licence", 1),
    (L, r'ShortDescription: "[^"]*"', 'ShortDescription: "OK"', "2 characters, not 3 to 256", 1),
    (L, r'Publisher: "[^"]*"', 'Publisher: "Tapwright"', "the publisher", 1),
    (SCOOP, r'("license": "Proprietary",)', r"\1,", "does not parse", 1),
    (SCOOP, r'"bin"', '"binary"', "binary: not a field the schema knows", 1),
    (SCOOP, r'\s*"homepage": "[^"]*",', "", "homepage: required", 1),
    (SCOOP, r'"version": "[^"]*"', '"version": "1.0 beta"', "'1.0 beta' does not match", 1),
    (SCOOP, r'"hash": "[0-9a-f]{64}"', '"hash": "%s"' % ("0" * 64), "Scoop's 64bit hash", 1),
    (SCOOP, _AT, "/$version/Frostpane", "does not match ^[^$]*$", 1),
    (SCOOP, r'\s*"url": "[^"$]*\.zip",', "", "scoop/frostpane.json.url: required", 0),
    (SCOOP, r'\[\s*"Frostpane.exe",\s*"Frostpane"\s*\]', '["Frostpane.exe"]', "1 items, not 2 to 4", 1),
    (SCOOP, r"\$version-x64", "x64", "64bit update URL", 1),
    (SCOOP, r'"regex": "Frostpane-\(', '"regex": "Frostpane-((', "is not a regular expression", 1),
]


@pytest.mark.parametrize("name, pattern, replacement, reported, count", BREAKAGES,
                         ids=["%s %s" % (b[0].split("/")[-1], b[3]) for b in BREAKAGES])
def test_each_breakage_of_a_good_manifest_is_reported(release, name, pattern, replacement, reported, count):
    texts = _manifests(release["folder"])
    if replacement is None:
        del texts[name]
    else:
        texts[name], made = re.subn(pattern, replacement, texts[name], count=count, flags=re.M)
        assert made, "the breakage does not apply: %s" % pattern
    found = problems(texts, release)
    assert [f for f in found if reported in f], found


def test_without_manifests_the_release_is_the_same_bytes_and_with_them_the_same_again(release, tmp_path):
    def files(folder):
        return {f.name: f.read_bytes() if f.is_file() else None for f in folder.iterdir()}

    published, plain = files(release["folder"]), files(_release_folder(tmp_path / "plain"))
    assert published == dict(plain, winget=None, scoop=None)
    again = _release_folder(tmp_path / "again", "--manifests", BASE_URL, "--homepage", HOMEPAGE)
    assert _manifests(again) == _manifests(release["folder"])
    # Without a homepage the base URL is the homepage, and no page can name a later version.
    scoop = json.loads(_manifests(_release_folder(tmp_path / "bare", "--manifests", BASE_URL))[SCOOP])
    assert (scoop["homepage"], "checkver" in scoop, "autoupdate" in scoop) == (BASE_URL, False, False)
