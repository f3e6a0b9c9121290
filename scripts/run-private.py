#!/usr/bin/env python3
"""Runs Frostpane once on a private virtual display: a known picture on the screen, the first-run notice
pressed through, the frozen screen saved as a screenshot, then a key to close it. Says where the files went.
Usage: scripts/run-private.py FROSTPANE_EXE FLAVOUR (the probe is taken from the same build folder);
scripts/run-private.py --where FLAVOUR only says where the last run's capture went, in WINEPREFIX (else ~/.wine)."""
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT))
from harness import boxes, images  # noqa: E402
from harness.names import SETTINGS  # noqa: E402
from harness.waiting import poll, wait_exit  # noqa: E402
from harness.wineprefix import WinePrefix  # noqa: E402
from harness.winprobe import Probe  # noqa: E402
from harness.xdisplay import Display  # noqa: E402


def main(exe, flavour):
    out = ROOT / "build" / "run"
    out.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="frostpane-run-"))
    probe = Probe(Path(exe).parent / "harness" / "tools" / "winprobe.exe")
    with Display(1024, 768, 24) as screen:
        _, _, shown = screen.paint_picture()
        print("Virtual display %s, 1024 x 768, a known picture on it." % screen.name)
        folder = out / ("prefix-" + flavour)
        prefix = WinePrefix(folder, screen, flavour) if folder.exists() else WinePrefix.build(folder, screen,
                                                                                              flavour=flavour)
        proc = prefix.run(exe)
        seen, covers = boxes.drive(screen, prefix, probe, [proc], timeout=60)
        if not covers:
            raise SystemExit("Frostpane ended (exit status %s) before its cover window came up" % proc.poll())
        for box in seen:
            print("Box %r: %r; pressed Enter." % (box.caption, box.text.replace("\n", " ")))
        if not seen:
            print("No notice: this prefix has seen Frostpane before.")
        cover = screen.wait_window(name="", cls="frostpane.exe", timeout=60)
        print("Cover window at (%(x)d, %(y)d), %(width)d x %(height)d." % screen.geometry(cover))

        def frozen():
            shot = screen.screenshot()
            return shot if shot[2] == shown else None

        w, h, rgb = poll(frozen, 10, "the capture on the cover window")
        print("The cover window shows the capture, pixel for pixel.")
        shot = out / "frozen.png"
        images.write_ppm(work / "frozen.ppm", w, h, rgb)
        subprocess.run([images.IM_CONVERT, str(work / "frozen.ppm"), str(shot)], check=True)
        print("Screenshot of the frozen screen: %s" % shot)
        screen.key(cover, "Escape")
        wait_exit(proc, 30)
        prefix.wait_idle()
        say_where(prefix)
        prefix.kill()
    shutil.rmtree(work, ignore_errors=True)


def say_where(prefix):
    """Prints the capture file the settings record, as Windows and this machine name it. Read through the
    harness's reader (reg export, UTF-16), so a path with a name the console's code page lacks reads right."""
    _kind, path = prefix.reg_query(SETTINGS, "ScreenShotFilePath") or (None, "")
    print("The capture file: %s" % (path or "none was written"))
    if path:
        print("On this machine: %s" % prefix.unix_path(path))


if __name__ == "__main__":
    if sys.argv[1:2] == ["--where"]:
        # The prefix Wine used on the user's own display: WINEPREFIX, else ~/.wine.
        say_where(WinePrefix(os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine"), os.environ.get("DISPLAY"),
                             sys.argv[2]))
    else:
        main(*sys.argv[1:3])
