"""Wine prefixes for one flavour: booted once as a template and copied for each test, programs run in them, and
their registry and folders read from outside.

Wine's output is never read through a pipe here: the wineserver and the service processes a wine command starts
inherit its standard error, and explorer.exe that of the first program that makes a window, so such a pipe stays
open until the whole Wine session ends. run(capture=True) and call() put the output in files instead.
"""

import contextlib
import os
import re
import shutil
import subprocess
import tempfile
import time

from harness import winprobe
from harness.wine import Wine
from harness.waiting import stop_process
from harness.xdisplay import Display

WINEDEBUG = "-all"
# mscoree and mshtml off so no installer prompt appears; winemenubuilder off so no prefix writes menu entries and
# file associations into the user's home.
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# Wine's own libraries and programs, nearly all of a prefix's size (0.6 GB under Wine 8, 1.4 GB under Wine 10 with
# both widths): a copy shares them with its template as hard links, as nothing writes them in place (Wine's registry
# and every file a program writes lie elsewhere, and a file deleted or replaced in a copy only loses its link).
_SHARED = ("drive_c/windows/system32", "drive_c/windows/syswow64", "drive_c/windows/winsxs")


class WineProcess(subprocess.Popen):
    """A wine process whose output, when captured, goes to files: read it with output() once it has ended."""

    def output(self):
        return _read_back(self.stdout_file)

    def errors(self):
        return _read_back(self.stderr_file)


def _read_back(f):
    if f is None:
        return ""
    f.seek(0)
    return _decode(f.read()).replace("\r", "")


def _run_to_end(args, env, timeout):
    """Runs a wine command to its end with its output in files; CompletedProcess with texts.

    Wine's output is never read through a pipe: the wineserver, the service processes and explorer.exe that a
    wine command starts inherit its standard error, so a pipe would stay open until the whole Wine session ends.
    """
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise TimeoutError("%s still running after %.1f s" % (args, timeout)) from None
        return subprocess.CompletedProcess(args, rc, _read_back(out), _read_back(err))


class WinePrefix:
    """A Wine prefix; build() makes the once-per-session template, fresh() copies it for one test.

    Each wine command the methods below start begins a Wine session if none is running (a wineserver, the service
    processes, and explorer.exe once a window is made); the session ends a few seconds after its last program.
    start_session() instead starts one that lasts until kill(), with nothing inheriting the caller's output.
    """

    def __init__(self, path, display=None, flavour=None, wine=None):
        self.path = os.path.abspath(path)
        self.display = display
        self.wine = Wine(flavour, wine)
        self.user, self.locale = self._made_for()
        made_by = self.made_by()
        if made_by is not None and made_by != self.wine.wine:
            raise RuntimeError("%s is a Wine %s prefix, not one for Wine %s (their formats differ)"
                               % (self.path, made_by, self.wine.wine))
        self.boot_seconds = None
        self._temp = None
        self._explorer = None

    def __repr__(self):
        return "WinePrefix(%r, %s)" % (self.path, self.wine.label)

    def made_by(self):
        """The Wine ("8" or "10") whose build() made this prefix, or None where it does not say."""
        try:
            with open(os.path.join(self.path, _MADE_BY)) as f:
                return f.read().strip()
        except OSError:
            return None

    def arch(self):
        """The architecture the prefix was booted for ("win32" or "win64", as its system.reg says), or None."""
        try:
            with open(os.path.join(self.path, "system.reg"), encoding="utf-8", errors="replace") as f:
                for line in f:
                    if line.startswith("#arch="):
                        return line.strip()[len("#arch="):]
                    if line.startswith("["):
                        break
        except OSError:
            pass
        return None

    def _made_for(self):
        """(user, locale) that build() made this prefix for; (None, None) for the session's own user."""
        try:
            with open(os.path.join(self.path, _MADE_FOR), encoding="utf-8") as f:
                user, locale = f.read().split("\n")[:2]
            return user, locale
        except OSError:
            return None, None

    # Names a booted prefix that with-display and the end-to-end cases copy rather than booting their own.
    TEMPLATE_VARIABLE = "FROSTPANE_PREFIX_TEMPLATE"

    @classmethod
    def given_template(cls, flavour=None, wine=None, display=None):
        """The prefix FROSTPANE_PREFIX_TEMPLATE names where it is booted for this flavour and Wine, else None."""
        given = os.environ.get(cls.TEMPLATE_VARIABLE)
        if not given or not os.path.exists(os.path.join(given, "system.reg")):
            return None
        want = Wine(flavour, wine)
        try:
            template = cls(given, display, want.flavour, want.wine)
        except RuntimeError:  # made by the other Wine
            return None
        return template if template.arch() == want.arch and template.user is None else None

    @classmethod
    def build(cls, path, display=None, timeout=300, flavour=None, wine=None, user=None, locale=None):
        """Boots a new prefix of the flavour's architecture at path (wineboot -i, then wineserver -w) with the
        crash dialog turned off, marked with the Wine that made it.

        user and locale (both or neither) make it the prefix of a user of that name under that locale (e.g.
        "許", "zh_TW.UTF-8"): Wine names the profile folder after USER when it boots, and takes the user's
        locale and the ANSI code page from LC_ALL; every program run in the prefix, or a copy of it, runs so."""
        if (user is None) != (locale is None):
            raise ValueError("a user needs a locale, and a locale a user")
        prefix = cls(path, display, flavour, wine)
        prefix.wine.check()
        if os.path.exists(os.path.join(prefix.path, "system.reg")):
            raise FileExistsError("a prefix exists already at %s" % prefix.path)
        os.makedirs(prefix.path, exist_ok=True)
        with open(os.path.join(prefix.path, _MADE_BY), "w") as f:
            f.write(prefix.wine.wine + "\n")
        if user is not None:
            with open(os.path.join(prefix.path, _MADE_FOR), "w", encoding="utf-8") as f:
                f.write("%s\n%s\n" % (user, locale))
            prefix.user, prefix.locale = user, locale
        started = time.monotonic()
        r = _run_to_end(prefix.wine.command("wineboot", "-i"), prefix.env(), timeout)
        if r.returncode != 0:
            raise RuntimeError("wineboot -i failed in %s:\n%s%s" % (prefix.path, r.stdout, r.stderr))
        if user is not None and not os.path.isdir(os.path.join(prefix.path, "drive_c", "users", user)):
            raise RuntimeError("wineboot made no profile folder for %r in %s: is %s generated (scripts/setup)?"
                               % (user, prefix.path, locale))
        prefix.reg_set(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", 0)
        prefix.wait_idle(timeout)
        prefix.boot_seconds = time.monotonic() - started
        return prefix

    def fresh(self, path, display=None):
        """A new prefix at path (which must not exist, or be an empty folder): a copy of this one, which shares
        Wine's libraries and programs with it (_SHARED)."""
        path = os.path.abspath(path)
        if os.path.isdir(path) and not os.listdir(path):
            os.rmdir(path)
        if os.path.exists(path):
            raise FileExistsError("%s exists and is not empty" % path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["cp", "-al", self.path, path], check=True, timeout=300)
        for folder, folders, files in os.walk(path):
            inside = os.path.relpath(folder, path)
            folders[:] = [f for f in folders if os.path.normpath(os.path.join(inside, f)) not in _SHARED]
            for name in files:
                linked = os.path.join(folder, name)
                if not os.path.islink(linked):
                    shutil.copy2(linked, linked + ".copy")
                    os.replace(linked + ".copy", linked)
        return WinePrefix(path, display if display is not None else self.display, self.wine.flavour, self.wine.wine)

    @contextlib.contextmanager
    def shared_copy(self, path, width, height, depth=24):
        """(display, copy) for a group of cases that need no fresh prefix: a display with picture 0 (what it shows
        in display.shown) and a fresh copy of this prefix on it, with a Wine session kept up; both ended after."""
        display = Display(width, height, depth).start()
        copy = None
        try:
            display.shown = display.paint_picture()
            copy = self.fresh(path, display)
            copy.start_session()
            yield display, copy
        finally:
            if copy is not None:
                copy.remove()
            display.stop()

    def env(self, display=None):
        env = self.wine.env()
        display = display if display is not None else self.display
        if display is None:
            env.pop("DISPLAY", None)
        else:
            env["DISPLAY"] = display.name if isinstance(display, Display) else str(display)
        env.update(WINEPREFIX=self.path, WINEDEBUG=WINEDEBUG, WINEDLLOVERRIDES=WINEDLLOVERRIDES)
        if self.user is not None:
            env.update(USER=self.user, LOGNAME=self.user, LC_ALL=self.locale)
        return env

    def run(self, exe, *args, display=None, capture=False, **popen):
        """Starts `wine exe args...` and returns at once with a WineProcess (a Popen).

        The process is the Windows program itself, so its exit status is the program's. With capture=True its
        output goes to files, read with .output() and .errors() after it ended; pipes are refused (see
        _run_to_end for why).
        """
        if popen.get("stdout") == subprocess.PIPE or popen.get("stderr") == subprocess.PIPE:
            raise ValueError("wine output through a pipe stays open as long as the Wine session: use capture=True")
        out = err = None
        if capture:
            out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
            popen["stdout"], popen["stderr"] = out, err
        popen.setdefault("stdin", subprocess.DEVNULL)
        popen.setdefault("stdout", subprocess.DEVNULL)
        popen.setdefault("stderr", subprocess.DEVNULL)
        proc = WineProcess(self.wine.command(exe, *args), env=self.env(display), **popen)
        proc.stdout_file, proc.stderr_file = out, err
        return proc

    def call(self, exe, *args, display=None, timeout=60):
        """Runs `wine exe args...` to its end; CompletedProcess with stdout and stderr as text (\r removed)."""
        return _run_to_end(self.wine.command(exe, *args), self.env(display), timeout)

    def probe(self, probe_exe, *args, display=None, timeout=60):
        """Runs winprobe.exe with args; (exit status, facts as a dict of unescaped texts)."""
        r = self.call(probe_exe, *args, display=display, timeout=timeout)
        return r.returncode, winprobe.parse(r.stdout)

    def start_session(self, display=None, timeout=60):
        """Starts a Wine session that lasts until kill(): a persistent wineserver, the services and explorer.exe,
        none of them holding the caller's output. Programs then start faster, and a command whose output is read
        through a pipe (ctest's, say) sees it closed when the program ends. wait_idle() cannot be used then."""
        env = self.env(display)
        subprocess.run(self.wine.server_command("-p"), env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=True)
        self._explorer = subprocess.Popen(self.wine.command("explorer.exe", "/desktop"), env=env, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        r = _run_to_end(self.wine.command("cmd.exe", "/c", "exit"), env, timeout)
        if r.returncode != 0:
            raise RuntimeError("Wine session in %s did not start: %s" % (self.path, r.stderr))

    def wait_idle(self, timeout=60):
        """Waits until every process of the prefix and its wineserver have ended (wineserver -w)."""
        if self._explorer is not None:
            raise RuntimeError("a session started with start_session() lasts until kill()")
        try:
            subprocess.run(self.wine.server_command("-w"), env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError("Wine processes of %s still running after %.1f s" % (self.path, timeout)) from None

    def kill(self, timeout=30):
        """Ends every process of the prefix and its wineserver (wineserver -k), and waits for that."""
        if not os.path.isdir(self.path):
            return
        subprocess.run(self.wine.server_command("-k"), env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)
        if self._explorer is not None:
            stop_process(self._explorer)
            self._explorer = None
        self.wait_idle(timeout)

    def remove(self, server_folder=False):
        """kill(), then deletes the prefix folder.

        Debian's wine keeps the wineserver sockets of a prefix in /tmp/wine-XXXXXX, named in the prefix's file
        'wineserver', and copies of a prefix share that folder. server_folder=True deletes it too: for a prefix
        made by build() once all its copies are gone.
        """
        self.kill()
        folder = None
        try:
            with open(os.path.join(self.path, "wineserver")) as f:
                name = f.read().strip()
            if re.fullmatch(r"wine-[A-Za-z0-9]+", name):
                folder = os.path.join(tempfile.gettempdir(), name)
        except OSError:
            pass
        shutil.rmtree(self.path, ignore_errors=True)
        if server_folder and folder:
            shutil.rmtree(folder, ignore_errors=True)

    def _reg(self, *args, timeout=60):
        r = _run_to_end(self.wine.command("reg", *args), self.env(), timeout)
        return r.returncode, r.stdout, r.stderr

    def reg_values(self, key):
        """{name: (type, data)} of the values directly under key, or None when the key does not exist.

        REG_DWORD and REG_QWORD data are ints, REG_BINARY (and other raw types) bytes, REG_MULTI_SZ a list of texts,
        REG_SZ and REG_EXPAND_SZ the text. Read from `reg export`, which writes UTF-16: `reg query` prints in the
        console's code page and turns every character it lacks into '?' (C:\\users\\?ukasz under en_US)."""
        with tempfile.TemporaryDirectory(prefix="frostpane-reg-") as folder:
            path = os.path.join(folder, "key.reg")
            for _attempt in range(3):
                rc, _out, err = self._reg("export", key, "Z:" + path.replace("/", "\\"), "/y")
                if rc == 0:
                    with open(path, "rb") as f:
                        return _exported_values(f.read().decode("utf-16"), _full_key(key))
                # reg export answers 1 for a key that is not there, and for a failure of its own.
                if self._reg("query", key)[0] != 0:
                    return None
        raise RuntimeError("reg export %s failed three times although the key is there: %s" % (key, err))

    def reg_query(self, key, value):
        """(type, data) of one value (as reg_values gives it), or None when the key or the value is absent."""
        return (self.reg_values(key) or {}).get(value)

    def reg_set(self, key, value, type, data):
        """Writes one value. data: int for REG_DWORD, bytes for REG_BINARY, a text otherwise."""
        if isinstance(data, (bytes, bytearray)):
            data = data.hex()
        rc, _out, err = self._reg("add", key, "/v", value, "/t", type, "/d", str(data), "/f")
        if rc != 0:
            raise RuntimeError("reg add %s %s failed: %s" % (key, value, err))

    def reg_delete(self, key, value=None):
        """Deletes a value, or the whole key when value is None; True when something was deleted."""
        args = ["delete", key] + (["/v", value] if value is not None else []) + ["/f"]
        rc, _out, _err = self._reg(*args)
        return rc == 0

    def unix_path(self, windows_path):
        """The unix path of a path on one of the prefix's drives (C:\\users\\... -> <prefix>/drive_c/users/...) or
        on a share it serves (\\\\server\\share\\... -> <prefix>/dosdevices/unc/server/share/...)."""
        m = re.match(r"^([A-Za-z]):\\?(.*)$", windows_path)
        if m:
            root = os.path.realpath(os.path.join(self.path, "dosdevices", m.group(1).lower() + ":"))
        else:
            m = re.match(r"^\\\\([^\\]+\\[^\\]+)\\?(.*)$", windows_path)
            if not m:
                raise ValueError("neither a drive path nor a share's: %r" % windows_path)
            root = os.path.join(self.path, "dosdevices", "unc", *m.group(1).split("\\"))
        rest = [p for p in m.group(2).split("\\") if p]
        return os.path.join(root, *rest)

    def temp_dir(self):
        """The unix path of the prefix user's temporary folder, where GetTempPathA points (TMP, then TEMP)."""
        if self._temp is None:
            env = self.reg_values(r"HKCU\Environment") or {}
            for name in ("TMP", "TEMP"):
                if name in env:
                    text = env[name][1]
                    profile = (self.reg_values(r"HKCU\Volatile Environment") or {}).get("USERPROFILE")
                    if profile:
                        text = text.replace("%USERPROFILE%", profile[1])
                    self._temp = self.unix_path(text)
                    break
            else:
                raise RuntimeError("no TMP or TEMP in HKCU\\Environment of %s" % self.path)
        return self._temp


# The file in a prefix that names the Wine that made it.
_MADE_BY = "frostpane-wine"
# The file in a prefix made for a user of its own: the user's name and locale, a line each.
_MADE_FOR = "frostpane-user"

_HIVES = {
    "HKCU": "HKEY_CURRENT_USER",
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS",
    "HKCC": "HKEY_CURRENT_CONFIG",
}


def _full_key(key):
    """A key path with its hive spelt out, as reg query prints it."""
    hive, _sep, rest = key.rstrip("\\").partition("\\")
    hive = _HIVES.get(hive.upper(), hive.upper())
    return hive + ("\\" + rest if rest else "")


def _decode(raw):
    return raw.decode("utf-8", errors="replace")


_RAW_TYPES = {"hex": "REG_BINARY", "hex(0)": "REG_NONE", "hex(2)": "REG_EXPAND_SZ", "hex(7)": "REG_MULTI_SZ",
              "hex(b)": "REG_QWORD"}


def _exported_values(text, key):
    """The values of one key in the text of `reg export` (REGEDIT5): {name: (type, data)} of its own section."""
    values = {}
    section = None
    # A hex value goes on over lines that end in a backslash.
    for line in re.sub(r"\\\r?\n\s*", "", text).splitlines():
        if line.startswith("["):
            section = line[1:-1]
            continue
        if section is None or section.lower() != key.lower() or not line:
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m:
            raise ValueError("unreadable line in reg export: %r" % line)
        name = "" if m.group(1) == "@" else _unescape_reg(m.group(2))
        values[name] = _exported_data(m.group(3))
    return values


def _unescape_reg(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "0": "\0"}.get(m.group(1), m.group(1)), text)


def _exported_data(text):
    if text.startswith('"'):
        return "REG_SZ", _unescape_reg(text[1:-1])
    if text.startswith("dword:"):
        return "REG_DWORD", int(text[len("dword:"):], 16)
    kind, _colon, hex_bytes = text.partition(":")
    raw = bytes.fromhex(hex_bytes.replace(",", ""))
    name = _RAW_TYPES.get(kind, "REG_BINARY")
    if name == "REG_QWORD":
        return name, int.from_bytes(raw, "little")
    if name in ("REG_EXPAND_SZ", "REG_MULTI_SZ"):
        texts = raw.decode("utf-16-le").split("\0")
        return (name, [t for t in texts if t]) if name == "REG_MULTI_SZ" else (name, texts[0])
    return name, raw
