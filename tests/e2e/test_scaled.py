"""Scaled displays, end to end: Frostpane on a 1920x1080 screen at 125, 150 and 200 % (120, 144 and 192 dots per
inch) under Wine 10, which scales a process that has declared no DPI awareness as Windows does: such a process
reads the screen as 1536x864, 1280x720 or 960x540 at 96 dots per inch, and its screen copies are that size. The
program declares itself aware before anything else, so its capture is the whole monitor at device pixels, its
cover window shows it 1:1, and its About box is laid out at the display's DPI with its icon showing.

Wine 8 scales nothing, so these run under Wine 10 only (FROSTPANE_WINE=10, as scripts/test runs them). The first
test holds the platform to what the others rely on: a window covering the screen gets its timer and its keys
(Wine 10 without XInput2 starves such a window; see root_packages in harness/wine.py).
"""

import os

import pytest

from harness import images, winprobe
from harness.names import ABOUT_CAPTION as ABOUT, FOLDER, SETTINGS
from harness.waiting import poll, wait_exit
from harness.wine import wine_from_env

pytestmark = [pytest.mark.wine10,
              pytest.mark.skipif(wine_from_env() != "10", reason="Wine 8 does not scale an undeclared process")]

WIDTH, HEIGHT = 1920, 1080


def test_a_window_covering_the_screen_gets_its_timer_and_keys(desktop, prefix, winprobe_exe):
    desk = prefix.display = desktop(640, 480, picture=False)
    first, ticked = (0x10, 0x20, 0x30), (0xC0, 0xFF, 0xEE)
    plain = prefix.run(winprobe_exe, "window", "covering", "0", "0", "640", "480", "--popup",
                       "--color", "0x102030", "--timer", "0xC0FFEE")
    try:
        win = desk.wait_window(pid=plain.pid)
        seen = []

        def shows(colour):
            _w, _h, shot = desk.screenshot()
            seen.append(tuple(shot[(240 * 640 + 320) * 3:(240 * 640 + 320) * 3 + 3]))
            return seen[-1] == colour
        poll(lambda: shows(first) or shows(ticked), 20, "the window to paint")
        try:
            poll(lambda: shows(ticked), 5, "the first tick of a 100 ms timer")
        except TimeoutError:
            raise AssertionError("a window covering the screen got no WM_TIMER within 5 s (it shows %s): is XInput2 "
                                 "(libxi6) missing from this Wine's root?" % (seen[-1],)) from None
        desk.key(win, "Escape")
        assert wait_exit(plain, 20) == 0
    finally:
        if plain.poll() is None:
            plain.kill()


@pytest.mark.parametrize("dpi", [120, 144, 192])
def test_at_the_display_dpi_the_capture_and_the_window_keep_device_pixels(desktop, prefix, probe, frostpane_exe,
                                                                          dpi):
    desk = prefix.display = desktop(WIDTH, HEIGHT)
    picture = desk.shown[2]
    prefix.reg_set(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", dpi)
    prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
    # What a process that declares nothing is given here: the screen scaled down.
    rc, unaware = probe(prefix, "--unaware", "screen")
    assert rc == 0
    assert (int(unaware["horzres"]), int(unaware["vertres"])) == (WIDTH * 96 // dpi, HEIGHT * 96 // dpi)

    proc = prefix.run(frostpane_exe)
    try:
        cover = winprobe.wait_covering(probe, prefix, WIDTH, HEIGHT)
        desk.wait_for_screen(picture)

        rc, facts = probe(prefix, "post", *winprobe.COVER, "0x0112", "0x0010", "0")
        assert rc == 0 and facts["posted"] == "1"
        # The icon control is 32 device pixels at 96 DPI and grows with it; the exe's own icon of that size shows
        # there pixel for pixel (scaled up from a smaller one, as for a process left unaware, it would not match).
        side = 32 * dpi // 96

        def about_box():
            rc, facts = probe(prefix, "find", "--timeout", "10000", "--icon-id", "128", ABOUT)
            assert rc == 0, "no About box came up"
            return facts if float(winprobe.children(facts)[0].get("icon_match_score", "1")) == 0.0 else None
        try:
            about = poll(about_box, 10, "the About box's icon")
        except TimeoutError:
            about = probe(prefix, "find", "--icon-id", "128", ABOUT)[1]
        assert about["owner"] == cover["hwnd"]
        icon = winprobe.children(about)[0]
        left, top, right, bottom = (int(v) for v in icon["rect"].split(","))
        assert (right - left, bottom - top) == (side, side)
        assert (icon["icon_match"], icon["icon_match_score"]) == ("exe:128", "0.000")

        desk.key(desk.wait_window(ABOUT), "Return")
        poll(lambda: probe(prefix, "find", "--timeout", "0", ABOUT)[0] == 1, 20, "the About box to close")
        desk.wait_for_screen(picture)
        desk.key(desk.wait_window(pid=proc.pid), "a")
        assert wait_exit(proc, 20) == 0
    finally:
        if proc.poll() is None:
            proc.kill()

    folder = os.path.join(prefix.temp_dir(), FOLDER)
    files = os.listdir(folder)
    assert len(files) == 1
    capture = images.read_bmp(os.path.join(folder, files[0]))
    assert (capture.biWidth, capture.biHeight, capture.biBitCount) == (WIDTH, HEIGHT, 32)
    assert capture.rgb == picture, "the capture differs from the screen"
