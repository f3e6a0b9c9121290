"""The one place that starts Wine: which flavours this host can run, and for each its loader, server and prefix.

Frostpane builds in two flavours from the same sources: x86 (PE32, the release) and x64 (PE32+). The x86 flavour
needs Wine's 32-bit loader, which runs only where the kernel executes 32-bit x86 code; some x86-64 kernels run
64-bit user code only (IA-32 emulation off), and there every exec of an i386 program fails with ENOEXEC. Debian's
/usr/bin/wine (and wineboot, winepath, ... through it) picks the 32-bit loader whenever it is installed, even where
it cannot run, so nothing here calls `wine` by its bare name: each command is built from a Wine of one flavour.

FROSTPANE_64BIT_ONLY=1 makes any host behave as a 64-bit-only one, so both paths can be exercised anywhere.

As a command (the build's test emulator, the scripts' shell helpers):
    python3 harness/wine.py exec FLAVOUR -- PROGRAM ARGS...   runs a Windows program under that flavour's Wine
    python3 harness/wine.py server FLAVOUR -- ARGS...         runs that flavour's wineserver (-w waits, -k kills)
    python3 harness/wine.py host                              says whether this host runs 32-bit x86 code, and why
    python3 harness/wine.py reason                            only why
    python3 harness/wine.py flavours                          the flavours this host runs, one a line
    python3 harness/wine.py default                           the flavour a single run uses (x86 where it can)
"""

import errno
import functools
import os
import struct
import subprocess
import sys
import tempfile

FLAVOURS = ("x86", "x64")
FORCE_64BIT_ONLY = "FROSTPANE_64BIT_ONLY"

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


def flavour_from_env():
    """FROSTPANE_FLAVOUR when set (the test scripts set it per flavour), else the default flavour."""
    flavour = os.environ.get("FROSTPANE_FLAVOUR") or default_flavour()
    if flavour not in FLAVOURS:
        raise ValueError("FROSTPANE_FLAVOUR must be one of %s, not %r" % (", ".join(FLAVOURS), flavour))
    return flavour


class Wine:
    """How to start Wine for one flavour: its loader, its wineserver and its prefix architecture."""

    def __init__(self, flavour=None):
        self.flavour = flavour or flavour_from_env()
        if self.flavour not in FLAVOURS:
            raise ValueError("unknown flavour %r" % self.flavour)
        self.loader = _LOADERS[self.flavour]
        self.arch = _ARCH[self.flavour]
        # The 64-bit server serves both loaders; the 32-bit one is the only one where wine64 is absent.
        self.server = next((s for s in (_LIB + "/wineserver64", _LIB + "/wineserver32") if os.path.exists(s)),
                           _LIB + "/wineserver64")

    def __repr__(self):
        return "Wine(%r)" % self.flavour

    def check(self):
        """Raises RuntimeError with the reason when this flavour cannot run on this host."""
        if self.flavour == "x86" and not host_runs_32bit():
            raise RuntimeError("the x86 flavour cannot run here: %s" % host_check()[1])
        if not os.access(self.loader, os.X_OK):
            raise RuntimeError("%s is missing: run scripts/setup" % self.loader)

    def env(self, base=None):
        """base (default: this process's environment) with the loader, server and prefix architecture set."""
        env = dict(os.environ if base is None else base)
        env.update(WINELOADER=self.loader, WINESERVER=self.server, WINEARCH=self.arch)
        return env

    def command(self, program, *args):
        """The argument list that runs a Windows program (a path, or a builtin such as reg, wineboot, cmd)."""
        return [self.loader, str(program)] + [str(a) for a in args]

    def server_command(self, *args):
        return [self.server] + [str(a) for a in args]

    def version(self):
        r = subprocess.run([self.loader, "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True, timeout=30, env=self.env())
        return r.stdout.strip()


def main(argv):
    if len(argv) >= 2 and argv[0] in ("exec", "server"):
        rest = argv[2:]
        if rest and rest[0] == "--":
            rest = rest[1:]
        if argv[0] == "exec" and not rest:
            print("usage: wine.py exec FLAVOUR -- PROGRAM ARGS...", file=sys.stderr)
            return 2
        wine = Wine(argv[1])
        wine.check()
        command = wine.command(*rest) if argv[0] == "exec" else wine.server_command(*rest)
        os.execve(command[0], command, wine.env())
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
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
