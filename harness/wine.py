"""The one place that starts Wine: which flavours this host can run, which Wine runs them, and for each its loader,
server and prefix.

Frostpane builds in two flavours from the same sources: x86 (PE32, the release) and x64 (PE32+). The x86 flavour
needs Wine's 32-bit loader, which runs only where the kernel executes 32-bit x86 code; some x86-64 kernels run
64-bit user code only (IA-32 emulation off), and there every exec of an i386 program fails with ENOEXEC. Debian's
/usr/bin/wine (and wineboot, winepath, ... through it) picks the 32-bit loader whenever it is installed, even where
it cannot run, so nothing here calls `wine` by its bare name: each command is built from a Wine of one flavour.

Two Wines: "8" is Debian 12's Wine 8.0, installed on the host, the main platform. "10" is Wine 10.0 from Debian 13
(trixie), installed by scripts/setup into a root of that release outside the checkout (FROSTPANE_WINE10_ROOT,
default /var/cache/frostpane/trixie-wine10), which counts as whole once its stamp file is there. Its programs run
under bubblewrap: the host's whole file tree as it is (checkout, prefixes, /tmp with the X sockets, /dev, /proc,
HOME), with the root's /usr and /etc in place of the host's (the host's user and time-zone files kept). Nothing
stays mounted: the mounts live only as long as the processes started in them. Wine 10 virtualises DPI as Windows
does (Wine 8 does not), so scaled displays are shown there. A prefix belongs to the Wine that made it.
FROSTPANE_WINE=8|10 chooses (default 8); the choice travels to every program started through a Wine's env().

FROSTPANE_64BIT_ONLY=1 makes any host behave as a 64-bit-only one, so both paths can be exercised anywhere.

As a command (the build's test emulator, the scripts' shell helpers):
    python3 harness/wine.py exec FLAVOUR [--wine 8|10] -- PROGRAM ARGS...   runs a Windows program under that Wine
    python3 harness/wine.py server FLAVOUR [--wine 8|10] -- ARGS...         runs its wineserver (-w waits, -k kills)
    python3 harness/wine.py host                              says whether this host runs 32-bit x86 code, and why
    python3 harness/wine.py reason                            only why
    python3 harness/wine.py flavours                          the flavours this host runs, one a line
    python3 harness/wine.py default                           the flavour a single run uses (x86 where it can)
    python3 harness/wine.py root                              the Wine 10 root's folder
    python3 harness/wine.py root-stamp                        the file that, written last, says it is whole,
                                                              and its first line
    python3 harness/wine.py root-packages                     what scripts/setup installs into it, one a line
    python3 harness/wine.py x-libraries                       the X libraries each Wine's install gets, one a line
    python3 harness/wine.py locales                           the locales it generates, here and there, one a line
    python3 harness/wine.py ready 8|10                        exit 0 when that Wine is installed (and whole)
Without --wine, exec and server use FROSTPANE_WINE.
"""

import errno
import functools
import os
import struct
import shutil
import subprocess
import sys
import tempfile

FLAVOURS = ("x86", "x64")
WINES = ("8", "10")
FORCE_64BIT_ONLY = "FROSTPANE_64BIT_ONLY"
WINE_VARIABLE = "FROSTPANE_WINE"
ROOT_VARIABLE = "FROSTPANE_WINE10_ROOT"
DEFAULT_ROOT = "/var/cache/frostpane/trixie-wine10"
# Written last by scripts/setup: a root without it is half made and is built again.
ROOT_STAMP = ".frostpane-root-complete"
# The host files a Wine 10 program sees in the root's /etc: who the user is (the prefix's user folder is named
# after them) and the local time (the capture's name carries it).
_HOST_ETC = ("/etc/passwd", "/etc/group", "/etc/localtime", "/etc/timezone")

_LIB = "/usr/lib/wine"
_LOADERS = {"x86": _LIB + "/wine", "x64": _LIB + "/wine64"}
_ARCH = {"x86": "win32", "x64": "win64"}


def _tiny_i386_program(status):
    """A complete i386 ELF executable that only exits with `status` (one program header, three instructions)."""
    base = 0x08048000
    code = b"\xb8\x01\x00\x00\x00" + b"\xbb" + struct.pack("<I", status) + b"\xcd\x80"  # exit(status) via int 0x80
    size = 52 + 32 + len(code)
    header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack(
        "<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
    program = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    return header + program + code


@functools.lru_cache(maxsize=None)
def host_check():
    """(runs 32-bit code?, the reason in words), found by executing a tiny i386 program once per process."""
    if os.environ.get(FORCE_64BIT_ONLY) == "1":
        return False, "%s=1 makes this host count as 64-bit-only" % FORCE_64BIT_ONLY
    fd, path = tempfile.mkstemp(prefix="frostpane-i386-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(_tiny_i386_program(42))
        os.chmod(path, 0o700)
        try:
            status = subprocess.run([path], timeout=10).returncode
        except OSError as e:
            if e.errno == errno.ENOEXEC:
                return False, "the kernel runs 64-bit user code only (an i386 program answers Exec format error)"
            return False, "an i386 program could not be started here: %s" % e
    finally:
        os.unlink(path)
    if status != 42:
        return False, "an i386 program ran but did not exit as it should (status %s)" % status
    return True, "the kernel runs 32-bit x86 code"


def host_runs_32bit():
    return host_check()[0]


def runnable_flavours():
    """The flavours whose programs this host can run under Wine: both where it runs 32-bit code, else x64."""
    return list(FLAVOURS) if host_runs_32bit() else ["x64"]


def default_flavour():
    """The flavour one run uses: the x86 release where the host runs it, else x64."""
    return "x86" if host_runs_32bit() else "x64"


# The X libraries Wine loads at run time and only recommends. A root without them is not what a normal install
# gives: without XInput2 (libxi6) a window that covers the screen never gets its timers or keys (Wine 10 clips the
# cursor to such a window through XInput2 and, where the library is missing, asks again without end; measured with
# `winprobe window ... --popup --timer` covering the screen: it stays in its first colour and ignores keys without
# libXi, in both widths); without RandR and Xinerama (libxrandr2, libxinerama1) Wine sees one monitor the size of
# the whole X screen, however many there are.
X_LIBRARIES = ["libxi6", "libxrandr2", "libxinerama1", "libxcursor1", "libxcomposite1", "libxxf86vm1"]


def root_packages(runs_32bit=None):
    """What the Wine 10 root holds beyond its base: Wine 10.0 for 64-bit programs, and for 32-bit ones where the
    host runs them, each with the X libraries Wine recommends (X_LIBRARIES), and the locales package, from which
    scripts/setup generates LOCALES there."""
    if runs_32bit is None:
        runs_32bit = host_runs_32bit()
    packages = ["wine", "wine64", "locales"] + X_LIBRARIES
    if runs_32bit:
        packages += ["wine32:i386"] + [p + ":i386" for p in X_LIBRARIES]
    return packages


# The locales users are run under. Wine takes the user's locale and the ANSI code page from LC_ALL, and spells
# Unix file names in that locale's character set: under a locale that is not generated there is none, and a user
# whose name is not ASCII gets no profile folder (measured with USER=Łukasz LC_ALL=en_US.UTF-8 wineboot -i).
# scripts/setup generates them on the host and in the Wine 10 root, whose /usr takes the host's place.
LOCALES = ["en_US.UTF-8", "de_DE.UTF-8", "ru_RU.UTF-8", "zh_TW.UTF-8", "ja_JP.UTF-8"]


def wine10_root():
    return os.environ.get(ROOT_VARIABLE) or DEFAULT_ROOT


def _stamp_line(packages):
    return "packages: " + " ".join(packages) + "; locales: " + " ".join(LOCALES)


def root_is_whole(root=None):
    """Whether the root was made to the end, with the packages this host needs (the stamp's first line)."""
    try:
        with open(os.path.join(root or wine10_root(), ROOT_STAMP)) as f:
            return f.readline().rstrip("\n") == _stamp_line(root_packages())
    except OSError:
        return False


def wine_from_env():
    """FROSTPANE_WINE when set, else 8."""
    wine = os.environ.get(WINE_VARIABLE) or "8"
    if wine not in WINES:
        raise ValueError("%s must be one of %s, not %r" % (WINE_VARIABLE, ", ".join(WINES), wine))
    return wine


def flavour_from_env():
    """FROSTPANE_FLAVOUR when set (the test scripts set it per flavour), else the default flavour."""
    flavour = os.environ.get("FROSTPANE_FLAVOUR") or default_flavour()
    if flavour not in FLAVOURS:
        raise ValueError("FROSTPANE_FLAVOUR must be one of %s, not %r" % (", ".join(FLAVOURS), flavour))
    return flavour


class Wine:
    """How to start one Wine (8 or 10) for one flavour: its loader, its wineserver and its prefix architecture."""

    def __init__(self, flavour=None, wine=None):
        self.flavour = flavour or flavour_from_env()
        if self.flavour not in FLAVOURS:
            raise ValueError("unknown flavour %r" % self.flavour)
        self.wine = str(wine or wine_from_env())
        if self.wine not in WINES:
            raise ValueError("unknown Wine %r (one of %s)" % (self.wine, ", ".join(WINES)))
        self.root = wine10_root() if self.wine == "10" else ""
        self.loader = _LOADERS[self.flavour]
        self.arch = _ARCH[self.flavour]
        # The 64-bit server serves both loaders; the 32-bit one is the only one where wine64 is absent.
        self.server = next((s for s in (_LIB + "/wineserver64", _LIB + "/wineserver32")
                            if os.path.exists(self.root + s)), _LIB + "/wineserver64")

    def __repr__(self):
        return "Wine(%r, wine=%r)" % (self.flavour, self.wine)

    @property
    def label(self):
        """How reports name this Wine and flavour, e.g. "Wine 10 x64"."""
        return "Wine %s %s" % (self.wine, self.flavour)

    def check(self):
        """Raises RuntimeError with the reason when this flavour cannot run on this host under this Wine."""
        if self.flavour == "x86" and not host_runs_32bit():
            raise RuntimeError("the x86 flavour cannot run here: %s" % host_check()[1])
        if self.wine == "10":
            if not root_is_whole(self.root):
                raise RuntimeError("the Wine 10 root %s is missing or half made: run scripts/setup" % self.root)
            if not shutil.which("bwrap"):
                raise RuntimeError("bwrap (bubblewrap) is missing: run scripts/setup")
        if not os.access(self.root + self.loader, os.X_OK):
            raise RuntimeError("%s%s is missing: run scripts/setup" % (self.root, self.loader))

    def env(self, base=None):
        """base (default: this process's environment) with the loader, server, prefix architecture and the Wine
        chosen set."""
        env = dict(os.environ if base is None else base)
        env.update(WINELOADER=self.loader, WINESERVER=self.server, WINEARCH=self.arch)
        env[WINE_VARIABLE] = self.wine
        return env

    def _wrap(self):
        """What a command of this Wine is started through: nothing for Wine 8; bubblewrap into the root for 10.

        --die-with-parent: the Windows program dies with the bwrap process that the caller holds, so ending that
        ends the program, as it does with Wine 8 (the wineserver and Wine's services, started by the program,
        outlive it as they do there)."""
        if self.wine != "10":
            return []
        wrap = ["bwrap", "--dev-bind", "/", "/",
                "--ro-bind", self.root + "/usr", "/usr", "--ro-bind", self.root + "/etc", "/etc"]
        for name in _HOST_ETC:
            if os.path.exists(name) and os.path.exists(self.root + name):
                wrap += ["--ro-bind", name, name]
        return wrap + ["--die-with-parent", "--"]

    def command(self, program, *args):
        """The argument list that runs a Windows program (a path, or a builtin such as reg, wineboot, cmd)."""
        return self._wrap() + [self.loader, str(program)] + [str(a) for a in args]

    def server_command(self, *args):
        return self._wrap() + [self.server] + [str(a) for a in args]

    def version(self):
        r = subprocess.run(self._wrap() + [self.loader, "--version"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, timeout=30, env=self.env())
        return r.stdout.strip()


def program_pids(pid):
    """pid and, where it is the bwrap that a Wine 10 command starts, the Windows program's own process (bwrap's
    child), whose pid Wine gives the program's X windows (_NET_WM_PID)."""
    pids = [pid]
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            children = [int(c) for c in f.read().split()]
        with open("/proc/%d/comm" % pid) as f:
            if f.read().strip() == "bwrap":
                pids += children
    except (OSError, ValueError):
        pass
    return pids


def main(argv):
    if len(argv) >= 2 and argv[0] in ("exec", "server"):
        rest = argv[2:]
        wine = None
        if len(rest) >= 2 and rest[0] == "--wine":
            wine, rest = rest[1], rest[2:]
        if rest and rest[0] == "--":
            rest = rest[1:]
        if argv[0] == "exec" and not rest:
            print("usage: wine.py exec FLAVOUR [--wine 8|10] -- PROGRAM ARGS...", file=sys.stderr)
            return 2
        try:
            w = Wine(argv[1], wine)
            w.check()
        except (ValueError, RuntimeError) as e:
            print("wine.py: %s" % e, file=sys.stderr)
            return 2
        command = w.command(*rest) if argv[0] == "exec" else w.server_command(*rest)
        os.execvpe(command[0], command, w.env())
    if argv == ["host"]:
        runs, why = host_check()
        print("32-bit x86 code: %s (%s)" % ("runs" if runs else "does not run", why))
        return 0
    if argv == ["reason"]:
        print(host_check()[1])
        return 0
    if argv == ["flavours"]:
        print("\n".join(runnable_flavours()))
        return 0
    if argv == ["default"]:
        print(default_flavour())
        return 0
    if argv == ["root"]:
        print(wine10_root())
        return 0
    if argv == ["root-stamp"]:
        print(os.path.join(wine10_root(), ROOT_STAMP))
        print(_stamp_line(root_packages()))
        return 0
    if argv == ["root-packages"]:
        print("\n".join(root_packages()))
        return 0
    if argv == ["x-libraries"]:
        print("\n".join(X_LIBRARIES))
        return 0
    if argv == ["locales"]:
        print("\n".join(LOCALES))
        return 0
    if len(argv) == 2 and argv[0] == "ready" and argv[1] in WINES:
        try:
            Wine(default_flavour(), argv[1]).check()
        except RuntimeError as e:
            print(e, file=sys.stderr)
            return 1
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
