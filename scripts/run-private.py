#!/usr/bin/env python3
"""Runs Frostpane once on a private virtual display: a known picture on the screen, the first-run notice
pressed through, the frozen screen saved as a screenshot, then a key to close it. Says where the files went."""
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import desktop  # noqa: E402

TITLE = "Frostpane by Tapwright"
SETTINGS = r"HKCU\Software\Tapwright\Frostpane by Tapwright\Settings"


def main(exe):
    out = ROOT / "build" / "run"
    out.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="frostpane-run-"))
    with desktop.Display(1024, 768, 24) as screen:
        _, _, shown = screen.paint_picture()
        print("Virtual display %s, 1024 x 768, a known picture on it." % screen.name)
        prefix = desktop.WinePrefix.build(out / "prefix", screen) if not (out / "prefix").exists() \
            else desktop.WinePrefix(out / "prefix", screen)
        proc = prefix.run(exe)
        # The notice on a first run, or straight away the cover window.
        first = desktop.poll(lambda: screen.windows(TITLE) or screen.windows(name="", cls="frostpane.exe"), 60,
                             "the notice or the cover window")[0]
        if screen.window_name(first) == TITLE:
            print("First-run notice shown; pressing Enter.")
            screen.key(first, "Return")
        else:
            print("No notice: this prefix has seen Frostpane before.")
        cover = screen.wait_window(name="", cls="frostpane.exe", timeout=60)
        geometry = screen.geometry(cover)
        print("Cover window at (%(x)d, %(y)d), %(width)d x %(height)d." % geometry)

        def frozen():
            shot = screen.screenshot()
            return shot if shot[2] == shown else None

        w, h, rgb = desktop.poll(frozen, 10, "the capture on the cover window")
        print("The cover window shows the capture, pixel for pixel.")
        shot = out / "frozen.png"
        desktop.write_ppm(work / "frozen.ppm", w, h, rgb)
        subprocess.run([desktop.IM_CONVERT, str(work / "frozen.ppm"), str(shot)], check=True)
        print("Screenshot of the frozen screen: %s" % shot)
        screen.key(cover, "Escape")
        desktop.wait_exit(proc, 30)
        prefix.wait_idle()
        kind, path = prefix.reg_query(SETTINGS, "ScreenShotFilePath") or (None, "")
        print("ScreenShotFilePath = %s" % (path or "(empty)"))
        if path:
            print("The capture file on this machine: %s" % prefix.unix_path(path))
        prefix.kill()
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1])
