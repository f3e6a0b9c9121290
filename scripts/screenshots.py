#!/usr/bin/env python3
"""Takes the README's screenshots on a private virtual display: a desktop with a clock and a logo on it,
frozen by Frostpane (docs/cover-window.png), and the About box over the cover window (docs/about-box.png).
Usage: scripts/screenshots.py FROSTPANE_EXE WINPROBE_EXE [FLAVOUR]"""
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT))
from harness import images  # noqa: E402
from harness.names import ABOUT_CAPTION, SETTINGS  # noqa: E402
from harness.waiting import poll, wait_exit  # noqa: E402
from harness.winprobe import COVER  # noqa: E402
from harness.wineprefix import WinePrefix  # noqa: E402
from harness.xdisplay import Display  # noqa: E402


def save(screen, path):
    w, h, rgb = screen.screenshot()
    ppm = Path(tempfile.mkdtemp()) / "shot.ppm"
    images.write_ppm(ppm, w, h, rgb)
    subprocess.run([images.IM_CONVERT, str(ppm), str(path)], check=True)
    return rgb


def main(exe, winprobe, flavour=None):
    docs = ROOT / "docs"
    docs.mkdir(exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="frostpane-shots-"))
    with Display(1024, 768, 24) as screen:
        scene = work / "scene.png"
        subprocess.run([images.IM_CONVERT, "-size", "1024x768", "gradient:#1d3b5a-#7fa7c9", str(scene)], check=True)
        subprocess.run([images.IM_DISPLAY, "-window", "root", str(scene)], env=screen.env())
        extras = [subprocess.Popen(args, env=screen.env()) for args in (
            ["xclock", "-geometry", "220x220+90+90"],
            ["xlogo", "-geometry", "180x180+700+420"])]
        try:
            screen.wait_window(cls="xclock")
            screen.wait_window(cls="xlogo")
            prefix = WinePrefix.build(work / "prefix", screen, flavour=flavour)
            prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
            before = screen.screenshot()[2]
            proc = prefix.run(exe)
            screen.wait_window(name="", cls="frostpane.exe", timeout=60)
            poll(lambda: screen.screenshot()[2] == before, 10, "the capture on the cover window")
            save(screen, docs / "cover-window.png")
            prefix.probe(winprobe, "post", *COVER, "0x0112", "0x0010", "0")
            about = screen.wait_window(ABOUT_CAPTION, timeout=30)
            screen.activate(about)
            save(screen, docs / "about-box.png")
            screen.key(about, "Return")
            screen.key(screen.wait_window(name="", cls="frostpane.exe"), "Escape")
            wait_exit(proc, 30)
            prefix.remove(server_folder=True)
        finally:
            for p in extras:
                p.terminate()
    print("Wrote %s and %s" % (docs / "cover-window.png", docs / "about-box.png"))


if __name__ == "__main__":
    main(*sys.argv[1:4])
