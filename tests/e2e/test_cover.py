"""End to end: the cover window over the primary monitor, with the real executable on Xvfb and openbox.

The window is judged from outside: its X geometry (xdotool), its Win32 styles and rectangles (winprobe) and the
screen's pixels. Whether it shows the capture or the live screen is told apart by painting another picture on the
root window underneath it: the screen must keep showing the picture of the capture, and shows the new one only
once the window has gone.

Wine puts back what another window hid from its own copy of a window's pixels, without asking the window to
paint (measured), so a window laid over the cover window and taken away cannot show whether the program repaints.
Minimising and restoring it does ask the window to paint all of itself, so that is done too.

The window's first case runs on one monitor (Xvfb) and on a desk of two (Xorg with the dummy driver) whose
secondary monitor lies left of the primary, so the primary's top-left is not the root window's: there the capture
must be the primary's pixels, the window must lie exactly over the primary, and the other monitor must stay live.

The input case has a prefix and display made for it (the notice marked as seen, a Wine session kept up); every
other test has a fresh prefix. Keys are real input (xdotool key sends press and release together, after activating
the window), so no key is left held down when the window closes on its press.
"""

import os
import struct
import subprocess
from pathlib import Path

import pytest

from harness import boxes, images, pictures, winprobe
from harness.names import SETTINGS, TITLE
from harness.waiting import poll, stop_process, wait_exit
from harness.xdisplay import Monitor

ICON_FILE = Path(__file__).resolve().parents[2] / "res" / "Frostpane.ico"

WS_POPUP, WS_BORDER, WS_DLGFRAME, WS_THICKFRAME, WS_SYSMENU = 0x80000000, 0x00800000, 0x00400000, 0x00040000, 0x80000
WS_EX_DLGMODALFRAME, WS_EX_WINDOWEDGE, WS_EX_CLIENTEDGE, WS_EX_STATICEDGE = 0x1, 0x100, 0x200, 0x20000
MAGENTA = (255, 0, 255)
WM_SYSCOMMAND, SC_MINIMIZE, SC_RESTORE = 0x0112, 0xF020, 0xF120


def paint_root_underneath(desk, variant, folder):
    """Puts picture `variant` on the root window without waiting for the screen to show it (a window covers it)."""
    path = os.path.join(str(folder), "root%d.ppm" % variant)
    images.write_ppm(path, desk.width, desk.height, pictures.picture(desk.width, desk.height, variant))
    subprocess.run([images.IM_DISPLAY, "-window", "root", path], env=desk.env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)


def ico_argb(path, size):
    """The size x size image of a 16-colour .ico file as ARGB values, top row first; None where it is
    transparent."""
    data = path.read_bytes()
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        w, h, _colours, _res, _planes, _bits, _length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (w, h) == (size, size):
            break
    else:
        raise ValueError("no %d x %d image in %s" % (size, size, path))
    header_size, _w, _h2, _planes, bits = struct.unpack_from("<IiiHH", data, offset)
    assert bits == 4
    palette = [struct.unpack_from("<BBB", data, offset + header_size + 4 * k) for k in range(16)]
    colours = offset + header_size + 64
    colour_stride, mask_stride = ((size * 4 + 31) // 32) * 4, ((size + 31) // 32) * 4
    mask = colours + colour_stride * size
    out = []
    for y in range(size - 1, -1, -1):  # rows are stored bottom-up
        for x in range(size):
            if data[mask + y * mask_stride + x // 8] >> (7 - x % 8) & 1:
                out.append(None)
                continue
            byte = data[colours + y * colour_stride + x // 2]
            b, g, r = palette[byte >> 4 if x % 2 == 0 else byte & 15]
            out.append(0xFF000000 | r << 16 | g << 8 | b)
    return out


def window_icons(desk, win):
    """{(width, height): [ARGB, ...]} of the icons the window shows to the window manager (_NET_WM_ICON)."""
    r = desk.x("xprop", "-id", str(win), "-notype", "32c", "_NET_WM_ICON")
    values = [int(v) for v in r.stdout.split("=", 1)[1].replace(",", " ").split()] if "=" in r.stdout else []
    icons = {}
    while len(values) >= 2:
        w, h = values[:2]
        icons[(w, h)] = values[2 : 2 + w * h]
        values = values[2 + w * h :]
    return icons


def crop(width, rgb, m):
    """The part of a width-wide RGB picture that monitor m shows."""
    return b"".join(rgb[((m.y + y) * width + m.x) * 3 : ((m.y + y) * width + m.x + m.width) * 3]
                    for y in range(m.height))


def pasted(width, rgb, part, m):
    """The width-wide RGB picture with part (monitor m's size) in m's place."""
    out = bytearray(rgb)
    for y in range(m.height):
        start = ((m.y + y) * width + m.x) * 3
        out[start : start + m.width * 3] = part[y * m.width * 3 : (y + 1) * m.width * 3]
    return bytes(out)


def assert_wine_sees_the_monitors(probe, prefix, desk):
    """Wine's monitors are the desk's, in coordinates whose origin is the primary's top-left."""
    p = desk.primary
    want = sorted("%d,%d,%d,%d/%d" % (m.x - p.x, m.y - p.y, m.x - p.x + m.width, m.y - p.y + m.height, m.primary)
                  for m in desk.monitors)
    rc, facts = probe(prefix, "monitors")
    assert rc == 0
    seen = sorted("%s/%s" % (facts["monitor%d.rect" % i], facts["monitor%d.primary" % i])
                  for i in range(int(facts["monitors"])))
    assert len(seen) == len(want), (
        "Wine sees %d monitor(s) %s on a desk of %d %s: it finds the monitors through XRandR, and libXrandr "
        "(libxrandr2, which Wine only recommends) is missing where it runs (for Wine 10, its root; scripts/setup "
        "installs it)" % (len(seen), seen, len(want), want))
    assert seen == want


def region_shows(desk, left, top, right, bottom, colour):
    _w, _h, shot = desk.screenshot()
    row = bytes(colour) * (right - left)
    return all(shot[(y * desk.width + left) * 3 : (y * desk.width + right) * 3] == row for y in range(top, bottom))


# The window and its picture


DESKS = {
    "one-monitor": {"width": 800, "height": 600},
    "secondary-left": {"monitors": [Monitor(640, 480, 0, 0), Monitor(800, 600, 640, 0, primary=True)]},
}


@pytest.mark.wine10
@pytest.mark.parametrize("layout", list(DESKS))
def test_after_the_notice_a_frameless_window_covers_the_screen_with_the_capture(desktop, prefix, probe,
                                                                                frostpane_exe, tmp_path, layout):
    desk = prefix.display = desktop(**DESKS[layout])
    root_width, root_height, shown = desk.shown
    primary = desk.primary
    width, height = primary.width, primary.height
    assert_wine_sees_the_monitors(probe, prefix, desk)
    proc = prefix.run(frostpane_exe)
    try:
        boxes.dismiss(desk, prefix, probe, TITLE)
        win = boxes.cover_window(desk, proc)
        # The capture, written before the window opened, is the primary monitor's pixels.
        _kind, path = prefix.reg_values(SETTINGS)["ScreenShotFilePath"]
        capture = images.check_capture(prefix.unix_path(path), width, height, 32)
        count, first = pictures.diff_rgb(width, height, capture.rgb, crop(root_width, shown, primary))
        assert count == 0, "the capture differs from the primary monitor in %d pixels; first (x, y, capture, " \
            "monitor) %s" % (count, first)
        facts = winprobe.wait_covering(probe, prefix, width, height)
        assert desk.geometry(win) == {"x": primary.x, "y": primary.y, "width": width, "height": height}
        assert facts["matches"] == "1"
        assert (facts["rect"], facts["client"], facts["client_origin"]) == (
            "0,0,%d,%d" % (width, height), "0,0,%d,%d" % (width, height), "0,0")
        style, exstyle = int(facts["style"], 16), int(facts["exstyle"], 16)
        assert style & WS_POPUP
        assert style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_SYSMENU) == 0, hex(style)
        assert exstyle & (WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE | WS_EX_STATICEDGE) == 0
        assert facts["children"] == "0"
        # Its icon, as the window manager gets it, is the application's 32 x 32 image.
        icon = window_icons(desk, win).get((32, 32))
        assert icon is not None
        expected = ico_argb(ICON_FILE, 32)
        assert len(icon) == len(expected)
        assert [v if e is not None else v >> 24 for v, e in zip(icon, expected)] == [
            e if e is not None else 0 for e in expected]

        # The window shows the capture over the primary; every other monitor shows the root as it now is.
        paint_root_underneath(desk, 1, tmp_path)
        changed = pictures.picture(root_width, root_height, 1)
        desk.wait_for_screen(pasted(root_width, changed, crop(root_width, shown, primary), primary), timeout=10)

        desk.key(win, "Return")
        assert wait_exit(proc, 20) == 0
    finally:
        stop_process(proc)
    # The root did change underneath: with the window gone the screen shows the other picture.
    desk.wait_for_screen(changed, timeout=10)


@pytest.mark.wine10
def test_a_repaint_after_another_window_or_a_minimise_restores_the_capture(desktop, prefix, probe, frostpane_exe,
                                                                       winprobe_exe, tmp_path):
    desk = prefix.display = desktop(640, 480, 24)
    width, height, shown = desk.shown
    prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
    proc = prefix.run(frostpane_exe)
    other = None
    try:
        win = boxes.cover_window(desk, proc)
        desk.wait_for_screen(shown, timeout=10)
        # Whatever lay under the other window now differs from the capture: the root holds picture 1.
        paint_root_underneath(desk, 1, tmp_path)
        left, top, right, bottom = 120, 90, 420, 330
        other = prefix.run(winprobe_exe, "window", "", left, top, right - left, bottom - top, "--popup", "--color",
                           "0xFF00FF")
        poll(lambda: region_shows(desk, left, top, right, bottom, MAGENTA), 20, "the other window on top",
                interval=0.2)
        assert proc.poll() is None

        rc, _facts = probe(prefix, "close", "--class", "WinprobePlain", "")
        assert rc == 0
        assert wait_exit(other, 20) == 0
        desk.wait_for_screen(shown, timeout=10)

        # Minimised, the window leaves the screen to the root's picture; restored, it must paint the capture
        # again over all of itself.
        for command, picture in ((SC_MINIMIZE, pictures.picture(width, height, 1)), (SC_RESTORE, shown)):
            rc, _facts = probe(prefix, "post", *winprobe.COVER, WM_SYSCOMMAND, command, 0)
            assert rc == 0
            desk.wait_for_screen(picture, timeout=10)
        assert proc.poll() is None

        desk.key(win, "Escape")
        assert wait_exit(proc, 20) == 0
    finally:
        stop_process(proc)
        if other is not None:
            stop_process(other)
    desk.wait_for_screen(pictures.picture(width, height, 1), timeout=10)


# Which inputs close it


@pytest.fixture(scope="module")
def seen(wine_template, tmp_path_factory):
    """A display with picture 0 and a prefix whose notice has been seen, with a Wine session kept up."""
    with wine_template.shared_copy(tmp_path_factory.mktemp("cover") / "prefix", 640, 480) as (desk, copy):
        copy.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
        yield desk, copy


def _start(desk, prefix, exe):
    proc = prefix.run(exe)
    win = boxes.cover_window(desk, proc)
    desk.wait_for_screen(desk.shown[2], timeout=10)
    return proc, win


# Which input closes the window is the Win32 layer's to check (CoverWindowClosing posts every kind through the
# modal loop and the dialog filter); here one real key that the filter takes as navigation and one it passes on,
# through the X server and Wine. Return, Escape, a letter and a left click end the runs of other tests: Return the
# first test here, Escape the repaint test, a letter the About box's run and the reliability runs, a left click
# test_reliability.py's plain-file case.


def _read_after(desk, prefix, probe, proc, win, name):
    """Waits until Wine has read an input sent after the one under test: another navigation key, held down on
    the window until Wine's key state shows it, then let go. Wine reads a program's input in the order it was
    sent, so by then it has read the input under test as well. Stops early if the program has ended."""
    keysym, vk = ("Up", 0x26) if name == "Down" else ("Down", 0x28)
    desk.activate(win)
    desk.x("xdotool", "keydown", keysym)
    try:
        poll(lambda: proc.poll() is not None or probe(prefix, "keystate", vk)[1].get("key.%d" % vk) == "1", 20,
             "Wine to read %s after %s" % (keysym, name))
    finally:
        desk.x("xdotool", "keyup", keysym)


def test_a_navigation_key_leaves_it_open_and_another_key_ends_it(seen, frostpane_exe, probe):
    """Tab, judged once Wine has read an input sent after it, then F5."""
    desk, prefix = seen
    proc, win = _start(desk, prefix, frostpane_exe)
    try:
        desk.key(win, "Tab")
        _read_after(desk, prefix, probe, proc, win, "Tab")
        assert proc.poll() is None, "Tab closed the window"
        assert win in desk.windows(), "Tab took the window away"
        desk.wait_for_screen(desk.shown[2], timeout=5)
        desk.key(win, "F5")
        assert wait_exit(proc, 20) == 0
        assert win not in desk.windows()
    finally:
        stop_process(proc)
