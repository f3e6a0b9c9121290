"""The About box, end to end: opened over the running cover window by the system command a platform menu would
send, read with winprobe, closed with Enter and with Esc, and the frozen picture still in place afterwards.

Under Wine the cover window has no system menu (its template has no system-menu style, and GetSystemMenu(FALSE)
answers null for it), so the menu entry itself cannot be chosen here; the command is posted to the window instead,
as the menu would send it: WM_SYSCOMMAND (0x0112) with the entry's id.

What the box holds (its controls, texts and styles) is read from the exe by the Win32 layer (ResourceTest), its
layout at each DPI there too (AboutBoxLayout), and which commands open it (CoverWindowTest); here, what only a real
X server and Wine show: the box over the cover window with the exe's icon on the screen, centred, modal, closed by
real keys, and the capture back where it stood.
"""

import pytest

from harness import winprobe
from harness.names import ABOUT_CAPTION as ABOUT, SETTINGS
from harness.waiting import poll, wait_exit

WM_SYSCOMMAND = "0x0112"


pytestmark = pytest.mark.wine10


def _rect(text):
    return tuple(int(v) for v in text.split(","))


def _centre(rect):
    left, top, right, bottom = rect
    return (left + right) / 2, (top + bottom) / 2


def test_about_box_over_the_cover_window(desktop, prefix, probe, frostpane_exe):
    desk = prefix.display = desktop()
    width, height, picture = desk.shown
    prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
    proc = prefix.run(frostpane_exe)
    try:
        cover = winprobe.wait_covering(probe, prefix, width, height)
        desk.wait_for_screen(picture)
        cover_x = desk.wait_window(pid=proc.pid)

        for close_key in ("Return", "Escape"):
            rc, facts = probe(prefix, "post", *winprobe.COVER, WM_SYSCOMMAND, "0x0010", "0")
            assert rc == 0 and facts["posted"] == "1"
            rc, about = probe(prefix, "find", "--timeout", "10000", "--icon-id", "128", ABOUT)
            assert rc == 0, "no About box came up"
            assert (about["title"], about["class"], about["exe"], about["matches"]) == (
                ABOUT, "#32770", "Frostpane.exe", "1")
            assert about["owner"] == cover["hwnd"]

            children = winprobe.children(about)
            assert children[0]["icon_match"] == "exe:128" and float(children[0]["icon_match_score"]) < 1.0
            assert len(children) == 4 and all(c["visible"] == "1" for c in children)

            # Centred over the cover window, which covers the screen; modal over it.
            about_centre = _centre(_rect(about["rect"]))
            cover_centre = _centre(_rect(cover["rect"]))
            assert abs(about_centre[0] - cover_centre[0]) <= 1 and abs(about_centre[1] - cover_centre[1]) <= 1, (
                about["rect"], cover["rect"])
            rc, facts = probe(prefix, "find", "--timeout", "0", *winprobe.COVER)
            assert rc == 0 and facts["enabled"] == "0"

            desk.key(desk.wait_window(ABOUT), close_key)
            poll(lambda: probe(prefix, "find", "--timeout", "0", ABOUT)[0] == 1, 20,
                    "the About box to close on %s" % close_key)
            rc, facts = probe(prefix, "find", "--timeout", "0", *winprobe.COVER)
            assert rc == 0 and facts["hwnd"] == cover["hwnd"] and facts["enabled"] == "1"
            assert proc.poll() is None, "closing the About box ended the program"
            # Where the box stood, the capture is back: the whole screen is the picture again.
            desk.wait_for_screen(picture)

        desk.key(cover_x, "a")
        assert wait_exit(proc, 20) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
