"""The harness as a command.

    python3 -m harness with-display [--size WxH] [--depth D] [--dpi N[,N...]] [--no-picture] [--flavour F]
        [--wine 8|10] [--prefix DIR] -- CMD...
starts a display with openbox and the picture, makes a Wine prefix of flavour F for that Wine (default
FROSTPANE_WINE, else 8; a temporary prefix unless --prefix names one), gives it N dots per inch if asked
(HKCU\\Control Panel\\Desktop LogPixels, which Wine 8 and 10 read first),
starts a Wine session in it that lasts while CMD runs (so CMD's pipes close when its wine programs
end), runs CMD with DISPLAY, WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES and that flavour's Wine variables set, tears
everything down and exits with CMD's status. Given several dots per inch, it runs CMD once at each on the same
display and prefix, LogPixels set between the runs (under Wine 10 the session started again, as it reads it only
then), and fails if any run failed; with --dpi, CMD gets FROSTPANE_EXPECT_DPI.
A temporary prefix is booted as a template and CMD's prefix is a copy of it; CMD gets the template's folder in
FROSTPANE_PREFIX_TEMPLATE, so a with-display run inside CMD (a test on a display of its own) copies it, 0.2 s,
rather than booting one of its own, 5 to 15 s.
    python3 -m harness template DIR [--flavour F] [--wine 8|10] [--remove]
boots a template prefix at DIR on a display of its own (unless one is there), for FROSTPANE_PREFIX_TEMPLATE to
name; --remove removes it.
    python3 -m harness slowest JUNIT.xml [--count N]
prints the slowest tests of a ctest run (its --output-junit file) and, from the output of each, the slowest gtest
cases.
    python3 -m harness figures [--runs N] [--winprobe winprobe.exe] [--flavour F]
prints how long a display start, a picture, a template prefix and a fresh copy take here, and what BITSPIXEL Wine
reports at depths 24, 16 and 8.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from xml.etree import ElementTree

from harness.wine import FLAVOURS, WINES
from harness.waiting import stop_process
from harness.wineprefix import WinePrefix
from harness.xdisplay import Display


def _template(work, display, flavour, wine):
    """The template FROSTPANE_PREFIX_TEMPLATE names where it is of this flavour and Wine, else one booted now in
    work."""
    return WinePrefix.given_template(flavour, wine, display) or WinePrefix.build(
        os.path.join(work, "template"), display, flavour=flavour, wine=wine)


def _template_command(args):
    """Boots a template prefix at args.folder (unless one is there), or removes it with its server folder."""
    if args.remove:
        if os.path.isdir(args.folder):
            WinePrefix(args.folder, None, args.flavour, args.wine).remove(server_folder=True)
        return 0
    if not os.path.exists(os.path.join(args.folder, "system.reg")):
        with Display(640, 480, 24) as display:
            WinePrefix.build(args.folder, display, flavour=args.flavour, wine=args.wine)
    return 0


def _with_display(args):
    cmd = args.cmd
    if cmd and cmd[0] == "--":
        cmd = cmd[1:]
    if not cmd:
        print("with-display: no command given", file=sys.stderr)
        return 2
    width, height = (int(v) for v in args.size.lower().split("x"))
    dpis = [int(v) for v in args.dpi.split(",")] if args.dpi else [None]
    display = Display(width, height, args.depth)
    work = None
    template = None
    prefix = None
    child = None

    def interrupted(signum, _frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, interrupted)
    try:
        display.start()
        if not args.no_picture:
            display.paint_picture()
        if args.prefix:
            prefix = WinePrefix(args.prefix, display, args.flavour, args.wine)
            if not os.path.exists(os.path.join(prefix.path, "system.reg")):
                prefix = WinePrefix.build(args.prefix, display, flavour=args.flavour, wine=args.wine)
        else:
            work = tempfile.mkdtemp(prefix="frostpane-wine-")
            template = _template(work, display, args.flavour, args.wine)
            prefix = template.fresh(os.path.join(work, "prefix"), display)
        status = 0
        session = False
        for dpi in dpis:
            if dpi is not None:
                # Wine 8 reads it as each process starts, so its session carries on; Wine 10 as its session
                # starts (measured: a process started after the change still reads the old value), so there the
                # session starts again.
                if session and prefix.wine.wine == "10":
                    prefix.kill()
                    session = False
                prefix.reg_set(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", dpi)
                if not session:
                    prefix.wait_idle()
                if len(dpis) > 1:
                    print("=== with-display: at %d dots per inch" % dpi, flush=True)
            if not session:
                prefix.start_session(display)
                session = True
            env = prefix.env(display)
            if template is not None:
                env[WinePrefix.TEMPLATE_VARIABLE] = template.path
            if dpi is not None:
                env["FROSTPANE_EXPECT_DPI"] = str(dpi)
            child = subprocess.Popen(cmd, env=env)
            status = child.wait() or status
            child = None
        return status
    except KeyboardInterrupt:
        stop_process(child)
        return 130
    finally:
        if prefix is not None:
            if work:
                prefix.remove()
            else:
                prefix.kill()
        if template is not None and work and template.path.startswith(work):
            template.remove(server_folder=True)
        if work:
            shutil.rmtree(work, ignore_errors=True)
        display.stop()


def _figures(args):
    """Prints how long the pieces of the test environment take on this machine, and what Wine reports per depth."""
    def median(values):
        values = sorted(values)
        return values[len(values) // 2]

    starts, paints = [], []
    for _ in range(args.runs):
        display = Display(1024, 768, 24)
        display.start()
        starts.append(display.start_seconds)
        t = time.monotonic()
        display.paint_picture()
        paints.append(time.monotonic() - t)
        display.stop()
    print("Xvfb + openbox start, 1024x768x24: median %.3f s (min %.3f, max %.3f, %d runs)"
          % (median(starts), min(starts), max(starts), args.runs))
    print("picture painted and seen, 1024x768x24: median %.3f s" % median(paints))
    work = tempfile.mkdtemp(prefix="frostpane-figures-")
    try:
        with Display(640, 480, 24) as display:
            template = WinePrefix.build(os.path.join(work, "template"), display, flavour=args.flavour)
        print("template prefix (wineboot -i, crash dialog off, wineserver -w): %.1f s" % template.boot_seconds)
        for depth in (24, 16, 8):
            with Display(1024, 768, depth) as display:
                t = time.monotonic()
                copy = template.fresh(os.path.join(work, "copy%d" % depth), display)
                copied = time.monotonic() - t
                line = "depth %2d: fresh copy %.2f s" % (depth, copied)
                if args.winprobe:
                    t = time.monotonic()
                    rc, facts = copy.probe(args.winprobe, "screen")
                    line += ", first wine run %.2f s, exit %d, BITSPIXEL %s, palette %s" % (
                        time.monotonic() - t, rc, facts.get("bitspixel"), facts.get("palette"))
                print(line)
                copy.remove()
        template.remove(server_folder=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


_GTEST_CASE = re.compile(r"^\[ +(?:OK|FAILED) +\] (\S+)(?:, where GetParam\(\) = .*?)? \((\d+) ms\)$", re.M)


def _slowest(args):
    """Prints the slowest ctest tests and gtest cases of one ctest run, from its JUnit file."""
    tests, cases = [], []
    for test in ElementTree.parse(args.junit).getroot().iter("testcase"):
        tests.append((float(test.get("time") or 0), test.get("name")))
        out = test.findtext("system-out") or ""
        cases += [(int(ms) / 1000, name) for name, ms in _GTEST_CASE.findall(out)]
    for title, rows in (("tests (one process each)", tests), ("cases", cases)):
        print("=== slowest %s of %d" % (title, len(rows)))
        for seconds, name in sorted(rows, reverse=True)[: args.count]:
            print("%8.2f s  %s" % (seconds, name))
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description="A private X display with Wine prefixes, for Frostpane's tests and scripts.")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("with-display", help="run a command on a private display with a Wine prefix")
    p.add_argument("--size", default="1024x768", help="screen size WxH (default 1024x768)")
    p.add_argument("--depth", type=int, default=24, help="screen depth in bits (default 24)")
    p.add_argument("--dpi", help="Wine's dots per inch (LogPixels; Wine's default is 96), or several, comma-separated, "
                   "to run the command at each in turn")
    p.add_argument("--no-picture", action="store_true", help="leave the root window black")
    p.add_argument("--flavour", choices=FLAVOURS, default=None,
                   help="the Wine to use: x86 or x64 (default: FROSTPANE_FLAVOUR, else x86 where the host runs it)")
    p.add_argument("--wine", choices=WINES, default=None,
                   help="Wine 8 (Debian 12's) or 10 (the trixie root's); default FROSTPANE_WINE, else 8")
    p.add_argument("--prefix", help="use (and boot if new) this Wine prefix instead of a temporary one")
    p.add_argument("cmd", nargs=argparse.REMAINDER, help="-- the command to run")
    f = sub.add_parser("figures", help="print how long displays and prefixes take here, and Wine's depths")
    f.add_argument("--flavour", choices=FLAVOURS, default=None, help="the Wine to use")
    f.add_argument("--runs", type=int, default=5, help="display starts to time (default 5)")
    f.add_argument("--winprobe", help="winprobe.exe, to ask Wine what each depth gives")
    b = sub.add_parser("template", help="boot a template prefix for a layer's displays and cases to copy")
    b.add_argument("folder", help="where (nothing is done when a prefix is there already)")
    b.add_argument("--flavour", choices=FLAVOURS, default=None, help="the Wine to use")
    b.add_argument("--wine", choices=WINES, default=None, help="Wine 8 or 10; default FROSTPANE_WINE, else 8")
    b.add_argument("--remove", action="store_true", help="remove the prefix and its server folder instead")
    t = sub.add_parser("slowest", help="print the slowest tests and cases of a ctest run")
    t.add_argument("junit", help="the file ctest --output-junit wrote")
    t.add_argument("--count", type=int, default=10, help="how many of each (default 10)")
    args = parser.parse_args(argv)
    if args.command == "with-display":
        return _with_display(args)
    if args.command == "figures":
        return _figures(args)
    if args.command == "template":
        return _template_command(args)
    if args.command == "slowest":
        return _slowest(args)
    return 2


if __name__ == "__main__":
    sys.exit(main())
