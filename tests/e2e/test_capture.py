"""End to end: the first-run notice, the capture file and the two settings, with the real executable on Xvfb.

Each test runs Frostpane.exe in a fresh Wine prefix on its own display, with a known picture on the root window,
and judges what it left behind independently of the program: the file through harness/images.py and ImageMagick,
the name from the prefix's own date and time formats and the clock, the settings through `wine reg`, the boxes
through winprobe.

Measured under Wine 8 and kept here as facts the tests rely on:
- Wine takes the user's date and time pictures from HKCU\\Control Panel\\International, so a prefix's formats can
  be set there and the name predicted from them.
"""

import concurrent.futures
import os
import time

import pytest

from harness import boxes, images, pictures, winprobe
from harness.names import FOLDER, NOTICE, SETTINGS, TITLE
from harness.waiting import wait_exit
from harness.wine import flavour_from_env, wine_from_env
from harness.wineprefix import WinePrefix
from harness.xdisplay import Display

INTERNATIONAL = r"HKCU\Control Panel\International"
REPLACED = "/\\?*:|<>"


# The expected file name, from the prefix's formats and the clock


def _format_picture(picture, tm, am, pm):
    """A Windows date or time picture (d, M, y, h, H, m, s, t runs and '...' literals) filled in from tm."""
    out = []
    i = 0
    while i < len(picture):
        c = picture[i]
        if c == "'":
            end = picture.find("'", i + 1)
            end = len(picture) if end < 0 else end
            out.append(picture[i + 1 : end] or "'")
            i = end + 1
            continue
        n = 1
        while i + n < len(picture) and picture[i + n] == c:
            n += 1
        i += n
        hour12 = tm.tm_hour % 12 or 12
        if c == "d" and n <= 2:
            out.append("%0*d" % (n, tm.tm_mday))
        elif c == "M" and n <= 2:
            out.append("%0*d" % (n, tm.tm_mon))
        elif c == "y":
            out.append("%d" % tm.tm_year if n >= 3 else "%0*d" % (n, tm.tm_year % 100))
        elif c == "h":
            out.append("%0*d" % (min(n, 2), hour12))
        elif c == "H":
            out.append("%0*d" % (min(n, 2), tm.tm_hour))
        elif c == "m":
            out.append("%0*d" % (min(n, 2), tm.tm_min))
        elif c == "s":
            out.append("%0*d" % (min(n, 2), tm.tm_sec))
        elif c == "t":
            designator = am if tm.tm_hour < 12 else pm
            out.append(designator[:1] if n == 1 else designator)
        elif c in "dMg":
            raise ValueError("picture %r uses names, which these tests do not predict" % picture)
        else:
            out.append(c * n)
    return "".join(out)


def expected_names(prefix, started, ended):
    """Every capture file name the prefix's user formats give for a local time between two clock readings."""
    intl = prefix.reg_values(INTERNATIONAL)
    date_pic, time_pic = intl["sShortDate"][1], intl["sTimeFormat"][1]
    am, pm = intl["s1159"][1], intl["s2359"][1]
    names = set()
    for second in range(int(started), int(ended) + 1):
        tm = time.localtime(second)
        date_text = _format_picture(date_pic, tm, am, pm)
        stamps = [date_text + " " + _format_picture(time_pic, tm, am, pm)]
        if (tm.tm_hour, tm.tm_min, tm.tm_sec) == (0, 0, 0):
            stamps.append(date_text)  # the default text leaves a zero time out
        for stamp in stamps:
            for c in REPLACED:
                stamp = stamp.replace(c, " ")
            names.add("Primary Monitor At %s.bmp" % stamp)
    return names


# Boxes, windows and settings


def close_cover(desk, proc, win):
    desk.key(win, "Escape")
    assert wait_exit(proc, 20) == 0


def capture_files(prefix):
    folder = os.path.join(prefix.temp_dir(), FOLDER)
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def windows_capture_path(probe, prefix, name):
    rc, facts = probe(prefix, "temp")
    assert rc == 0
    return facts["temp"] + FOLDER + "\\" + name


def run_without_notice(desk, probe, prefix, exe, shown=None):
    """Runs the program once where the notice has been seen: the cover window must come up with no box before
    it, and show `shown` when given. Closes it and returns the clock readings around the run."""
    started = time.time()
    proc = prefix.run(exe)
    try:
        seen, covers = boxes.drive(desk, prefix, probe, [proc])
        assert seen == [] and covers
        win = boxes.cover_window(desk, proc)
        ended = time.time()
        if shown is not None:
            desk.wait_for_screen(shown)
        close_cover(desk, proc, win)
    finally:
        if proc.poll() is None:
            proc.kill()
    return started, ended


def same_picture(width, height, got, expected, bits=8):
    """Asserts two pictures are equal; otherwise says how many pixels differ and the rectangle they lie in."""
    count, first = pictures.diff_rgb(width, height, got, expected, bits)
    if count == 0:
        return
    mask = (0xFF << (8 - bits)) & 0xFF
    rows = [y for y in range(height)
            if any((a ^ b) & mask for a, b in zip(got[y * width * 3 : (y + 1) * width * 3],
                                                  expected[y * width * 3 : (y + 1) * width * 3]))]
    cols = [x for x in range(width) if any((got[(y * width + x) * 3 + c] ^ expected[(y * width + x) * 3 + c]) & mask
                                           for y in rows for c in range(3))]
    raise AssertionError("%d pixels differ, within x %d..%d, y %d..%d; first (x, y, got, expected) %s"
                         % (count, cols[0], cols[-1], rows[0], rows[-1], first))


# The tests


@pytest.mark.wine10
def test_first_run_shows_the_notice_then_captures_the_screen_and_records_it(desktop, prefix, probe, frostpane_exe):
    desk = prefix.display = desktop(1366, 768, 24)
    width, height, shown = desk.shown
    assert prefix.reg_values(SETTINGS) is None

    proc = prefix.run(frostpane_exe)
    try:
        box, facts = boxes.read(prefix, probe, TITLE)
        assert box == (TITLE, NOTICE, "exclamation") and facts["matches"] == "1"
        # Nothing is captured or recorded while the notice stands.
        assert capture_files(prefix) == []
        assert not prefix.reg_values(SETTINGS)

        started = time.time()
        boxes.dismiss(desk, prefix, probe, TITLE)
        win = boxes.cover_window(desk, proc)
        ended = time.time()
        # The window covers the whole screen and shows the capture.
        winprobe.wait_covering(probe, prefix, width, height)
        desk.wait_for_screen(shown)
        close_cover(desk, proc, win)
    finally:
        if proc.poll() is None:
            proc.kill()

    files = capture_files(prefix)
    assert len(files) == 1 and files[0] in expected_names(prefix, started, ended), files
    path = os.path.join(prefix.temp_dir(), FOLDER, files[0])
    capture = images.check_capture(path, width, height, 32)
    same_picture(width, height, capture.rgb, shown)
    assert images.rgb_of_file_via_imagemagick(path) == (width, height, shown)

    values = prefix.reg_values(SETTINGS)
    assert values == {
        "MessageDisplayed": ("REG_DWORD", 1),
        "ScreenShotFilePath": ("REG_SZ", windows_capture_path(probe, prefix, files[0])),
    }
    assert prefix.unix_path(values["ScreenShotFilePath"][1]) == path

    # The second run shows no notice, keeps the value and records its own capture.
    started, ended = run_without_notice(desk, probe, prefix, frostpane_exe)
    values = prefix.reg_values(SETTINGS)
    name = values["ScreenShotFilePath"][1].rsplit("\\", 1)[1]
    assert name in expected_names(prefix, started, ended)
    assert values == {
        "MessageDisplayed": ("REG_DWORD", 1),
        "ScreenShotFilePath": ("REG_SZ", windows_capture_path(probe, prefix, name)),
    }
    assert name in capture_files(prefix) and files[0] in capture_files(prefix)
    second = images.read_bmp(prefix.unix_path(values["ScreenShotFilePath"][1]))
    same_picture(width, height, second.rgb, shown)


def test_the_name_follows_the_users_date_and_time_formats(desktop, prefix, probe, frostpane_exe):
    """Also: a seen flag other than 1 (here 7) counts as seen: no notice, and the value is kept."""
    desk = prefix.display = desktop(320, 240, 24)
    prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 7)
    # Dots are kept, the other separators become spaces.
    prefix.reg_set(INTERNATIONAL, "sShortDate", "REG_SZ", "dd.MM.yyyy")
    prefix.reg_set(INTERNATIONAL, "sTimeFormat", "REG_SZ", "HH:mm|ss")
    started, ended = run_without_notice(desk, probe, prefix, frostpane_exe)
    files = capture_files(prefix)
    assert len(files) == 1 and files[0] in expected_names(prefix, started, ended), files
    assert "." in files[0][: -len(".bmp")] and not any(c in files[0] for c in REPLACED)
    assert prefix.reg_values(SETTINGS) == {
        "MessageDisplayed": ("REG_DWORD", 7),
        "ScreenShotFilePath": ("REG_SZ", windows_capture_path(probe, prefix, files[0])),
    }


# Users of other languages, and a temporary folder on a share. Each user is a prefix booted for a user of that name
# under that locale, so the profile folder is C:\users\<name> and the ANSI code page is the locale's. The path is
# recorded as the code page spells it: the long path where it can, else its 8.3 short path.
USERS = [
    # id, user, locale, temporary folder (None: the profile's own), the form the path is recorded in
    ("Lukasz-en_US-1252", "Łukasz", "en_US.UTF-8", None, "temp_short"),
    ("Xu-zh_TW-950", "許", "zh_TW.UTF-8", None, "temp_wide"),
    ("So-ja_JP-932", "ソ", "ja_JP.UTF-8", None, "temp_wide"),
    ("Ivan-ru_RU-1251", "Иван", "ru_RU.UTF-8", None, "temp_wide"),
    ("share", None, None, r"\\fileserver\home\Temp", "temp_wide"),
]


@pytest.fixture(scope="module")
def user_templates(request, tmp_path_factory):
    """{user: prefix} booted for each user the selected cases run, side by side (a boot mostly waits), once."""
    wanted = {item.callspec.params["user"]: item.callspec.params["locale"] for item in request.session.items
              if item.originalname == "test_every_user_gets_the_capture" and item.callspec.params["user"]}
    base = tmp_path_factory.mktemp("users")
    with Display(640, 480, 24) as boot, concurrent.futures.ThreadPoolExecutor(max(len(wanted), 1)) as pool:
        booting = {user: pool.submit(WinePrefix.build, base / ("user%d" % i), boot, flavour=flavour_from_env(),
                                     wine=wine_from_env(), user=user, locale=locale)
                   for i, (user, locale) in enumerate(wanted.items())}
        templates = {user: future.result() for user, future in booting.items()}
    for template in templates.values():
        template.display = None
    yield templates
    for template in templates.values():
        template.remove(server_folder=True)


@pytest.mark.wine10
@pytest.mark.parametrize("user,locale,temp,spelt", [u[1:] for u in USERS], ids=[u[0] for u in USERS])
def test_every_user_gets_the_capture(desktop, wine_template, user_templates, tmp_path, probe, frostpane_exe, user,
                                     locale, temp, spelt):
    desk = desktop(480, 320, 24)
    width, height, shown = desk.shown
    prefix = (user_templates[user] if user else wine_template).fresh(tmp_path / "prefix", desk)
    try:
        if temp is not None:
            os.makedirs(prefix.unix_path(temp))
            for name in ("TMP", "TEMP"):
                prefix.reg_set(r"HKCU\Environment", name, "REG_SZ", temp)
        prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
        rc, facts = probe(prefix, "temp")
        assert rc == 0
        # A real profile of that name, or the share.
        assert prefix.unix_path(facts["temp_wide"]) == prefix.temp_dir()
        assert (user or temp) in facts["temp_wide"], facts

        started, ended = run_without_notice(desk, probe, prefix, frostpane_exe, shown)
        files = capture_files(prefix)
        assert len(files) == 1 and files[0] in expected_names(prefix, started, ended), files
        capture = images.check_capture(os.path.join(prefix.temp_dir(), FOLDER, files[0]), width, height, 32)
        same_picture(width, height, capture.rgb, shown)
        assert prefix.reg_values(SETTINGS)["ScreenShotFilePath"] == (
            "REG_SZ", facts[spelt] + FOLDER + "\\" + files[0])
    finally:
        prefix.remove()
