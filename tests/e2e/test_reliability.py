"""Faults and bad input, end to end: Frostpane on a private desktop, in a Wine prefix, with a known picture on
the screen, driven as a user drives it. The cases that need no fresh prefix (the plain file, the temporary folder,
the wrongly typed settings, two runs together) share one desktop and prefix with a Wine session kept up, cleared
between them (SharedScenes); the others each get a fresh one.

Every run is watched until its cover window is up: each message box Frostpane shows on the way is read with winprobe
(caption, text, icon, buttons) and dismissed with Enter, and the test asserts the exact list. Then the cover
window's picture is checked, a key ends the program, and what the run left on disk and in the registry is checked,
along with every file that was there before it.

How the faults are made:
- storage: the capture folder's name taken by a plain file; TEMP and TMP in the prefix's HKCU\\Environment pointing
  at a folder that does not exist, or at paths of 259, 260 and 300 characters; a small tmpfs mounted over the
  temporary folder, so the disk fills part-way through the pixel write, once beside an earlier capture and once
  while replacing an earlier capture of the same name (a real ENOSPC, which Wine reports as a failed write; a
  file-size limit instead kills the process with SIGXFSZ, or, with the signal ignored, gives the same failed write
  as the full disk, so the full disk is the honest case).
- settings: the run overwrites ScreenShotFilePath before its window reads it, so a bad value is brought in where
  the window reads it by the run itself: the capture folder is mounted read-only and already holds, under the name
  the run picks, a folder, a text file, a truncated BMP or a BMP claiming 60000 x 60000. The run cannot replace it
  (CreateFile fails), records its path, and the window loads what is there. The user's date and time formats are
  set to yyyy-MM-dd and HH so that name is known in advance. Wrongly typed values (MessageDisplayed as REG_SZ or
  REG_BINARY, ScreenShotFilePath as REG_DWORD) are stored before the run.
- concurrency: two runs started together in one prefix, three times; with the time format HH both pick the same
  file name, so the collision happens every time.

Mounting needs root, as the tests here run; without it those tests fail saying so.

Measured under Wine 8: CloseHandle(INVALID_HANDLE_VALUE) succeeds (the value is the current-process pseudo handle),
so a failed CreateFile shows "CreateFile Error" and the three write errors but no "CloseHandle Error".
GetTempPathA answers a TEMP that does not exist as it is; a temporary path that does not fit in MAX_PATH makes it
answer 0 (where Windows answers the length it needs).
"""

import datetime
import os
import random
import re
import shutil
import struct
import subprocess

import pytest

from harness import boxes, images, pictures, winprobe
from harness.names import FOLDER, NOTICE, SETTINGS, TITLE
from harness.winprobe import Probe
from harness.waiting import poll, wait_exit
from harness.xdisplay import Display

ENVIRONMENT = r"HKCU\Environment"
INTERNATIONAL = r"HKCU\Control Panel\International"


def afx_box(text):
    return (TITLE, text, "exclamation")


def error_box(text):
    return ("Error", text, None)


# The capture file could not be created: the writes through the invalid handle are refused too.
CREATE_FAILED = [afx_box("CreateFile Error"), afx_box("WriteFile 1 Error"), afx_box("WriteFile 2 Error"),
                 afx_box("WriteFile 3 Error")]

class Scene:
    """One private desktop with a known picture, one prefix, and Frostpane runs on them."""

    def __init__(self, desk, prefix, exe, probe):
        self.desk, self.prefix, self.exe, self.probe_all = desk, prefix, exe, probe
        self.shown = desk.shown  # (width, height, rgb) of the screen before any run

    def probe(self, *args, timeout=60):
        return self.probe_all(self.prefix, *args, timeout=timeout)

    def start(self):
        return self.prefix.run(self.exe)

    def settings(self):
        return self.prefix.reg_values(SETTINGS) or {}

    @property
    def temp(self):
        return self.prefix.temp_dir()

    @property
    def folder(self):
        return os.path.join(self.temp, FOLDER)

    def captures(self):
        """{name: bytes} of the files in the capture folder (empty when there is no such folder)."""
        if not os.path.isdir(self.folder):
            return {}
        return {n: open(os.path.join(self.folder, n), "rb").read() for n in sorted(os.listdir(self.folder))
                if os.path.isfile(os.path.join(self.folder, n))}

    def drive(self, procs, covers=1, timeout=90):
        """Answers every box with Enter until `covers` cover windows are up, or until a run ends by itself."""
        return boxes.drive(self.desk, self.prefix, self.probe_all, procs, covers, timeout)

    def close_covers(self, procs, key="a"):
        """Ends each run with a key typed on its cover window; their exit statuses."""
        running = list(procs)
        while running:
            x_window = self.desk.wait_window(pid=running[0].pid)
            boxes.type_until(self.desk, self.prefix, self.probe_all, x_window, winprobe.COVER,
                             key, lambda: any(p.poll() is not None for p in running), "a key to end a Frostpane run")
            running = [p for p in running if p.poll() is None]
        return [p.wait() for p in procs]

    def run_refused_file(self):
        """One run whose capture file cannot be created: the four boxes, then a black cover window that ends on a
        key. The settings it left."""
        proc = self.start()
        boxes, covers = self.drive([proc])
        assert boxes == CREATE_FAILED
        assert covers, "the run ended by itself (exit status %s) before its cover window came up" % proc.poll()
        self.wait_black()
        assert self.close_covers([proc]) == [0]
        values = self.settings()
        assert values["ScreenShotFilePath"][0] == "REG_SZ"
        return values

    def wait_black(self, timeout=10):
        """Waits until the whole screen is black: a cover window with no picture, drawn."""
        w, h, _rgb = self.shown
        black = bytes(w * h * 3)
        self.desk.wait_for_screen(black, timeout=timeout)


@pytest.fixture
def scene(desktop, prefix, frostpane_exe, winprobe_exe):
    """scene(width, height, depth, notice_seen=True): a desktop with the picture and a fresh prefix on it."""
    def make(width=1024, height=768, depth=24, notice_seen=True):
        desk = desktop(width, height, depth)
        prefix.display = desk
        if notice_seen:
            prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
        return Scene(desk, prefix, frostpane_exe, Probe(winprobe_exe))
    return make


class SharedScenes:
    """One 1024 x 768 desktop and one prefix, with a Wine session kept up, for the cases that need no fresh prefix:
    before each, the temporary folder is emptied, the settings key deleted, and the temporary folder's and the
    date and time formats' values put back as the prefix was made."""

    KEPT = ((ENVIRONMENT, ("TMP", "TEMP")), (INTERNATIONAL, ("sShortDate", "sTimeFormat")))

    def __init__(self, desk, prefix):
        self.desk, self.prefix = desk, prefix
        self.kept = {key: {n: (prefix.reg_values(key) or {}).get(n) for n in names} for key, names in self.KEPT}

    def reset(self):
        for key, values in self.kept.items():
            for name, value in values.items():
                if value is None:
                    self.prefix.reg_delete(key, name)
                else:
                    self.prefix.reg_set(key, name, *value)
        self.prefix.reg_delete(SETTINGS)
        self.prefix._temp = None
        temp = self.prefix.temp_dir()
        for name in os.listdir(temp):
            path = os.path.join(temp, name)
            shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.unlink(path)


@pytest.fixture(scope="module")
def shared_scenes(wine_template, tmp_path_factory):
    with wine_template.shared_copy(tmp_path_factory.mktemp("reliability") / "prefix", 1024, 768) as (desk, prefix):
        yield SharedScenes(desk, prefix)


@pytest.fixture
def shared_scene(shared_scenes, frostpane_exe, winprobe_exe):
    """shared_scene(notice_seen=True): the module's 1024 x 768 desktop and prefix, cleared as SharedScenes says."""
    def make(notice_seen=True):
        shared_scenes.reset()
        if notice_seen:
            shared_scenes.prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
        return Scene(shared_scenes.desk, shared_scenes.prefix, frostpane_exe, Probe(winprobe_exe))
    return make


def _mount(*args):
    r = subprocess.run(["mount"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=30)
    if r.returncode != 0:
        pytest.fail("mount %s failed (these tests mount file systems and need root): %s"
                    % (" ".join(args), r.stderr.strip()), pytrace=False)


def _unmount(path):
    if subprocess.run(["umount", path], stderr=subprocess.DEVNULL, timeout=30).returncode != 0:
        subprocess.run(["umount", "-l", path], stderr=subprocess.DEVNULL, timeout=30)


@pytest.fixture
def mounts(prefix):
    """mounts(*mount arguments, target): mounts, and unmounts after the test once the prefix's programs are gone."""
    done = []

    def mount(*args):
        _mount(*args)
        if args[-1] not in done:
            done.append(args[-1])

    yield mount
    prefix.kill()
    for target in reversed(done):
        _unmount(target)


def coarse_stamps(prefix):
    """Sets the user's formats to yyyy-MM-dd and HH, so the capture name of a run is known in advance."""
    prefix.reg_set(INTERNATIONAL, "sShortDate", "REG_SZ", "yyyy-MM-dd")
    prefix.reg_set(INTERNATIONAL, "sTimeFormat", "REG_SZ", "HH")


def coarse_name(moment):
    return "Primary Monitor At %s.bmp" % moment.strftime("%Y-%m-%d %H")


def windows_path(scene, unix_path):
    """The Windows path (C:\\...) of a file under the prefix's drive C."""
    drive_c = os.path.realpath(os.path.join(scene.prefix.path, "dosdevices", "c:"))
    rel = os.path.relpath(unix_path, drive_c)
    assert not rel.startswith(".."), unix_path
    return "C:\\" + rel.replace("/", "\\")


def assert_imagemagick_agrees(path, read):
    iw, ih, theirs = images.rgb_of_file_via_imagemagick(path)
    assert (iw, ih) == (read.width, read.height)
    assert theirs == read.rgb, "ImageMagick reads the capture differently from harness/images.py"


def set_temp(prefix, windows_path_text):
    for name in ("TMP", "TEMP"):
        prefix.reg_set(ENVIRONMENT, name, "REG_SZ", windows_path_text)


def long_temp(length):
    """A Windows path that GetTempPathA answers with exactly `length` characters (its trailing backslash included),
    made of components short enough for the unix file system."""
    body = length - len("C:\\") - 1
    parts = []
    while body > 0:
        part = min(body, 120)
        if body - part == 1:  # a lone separator would be left over
            part -= 1
        parts.append(chr(ord("a") + len(parts)) * part)
        body -= part + 1
    return "C:\\" + "\\".join(parts)


# Storage


def test_capture_folder_taken_by_a_plain_file(shared_scene):
    """The capture folder's name is a plain file: the file cannot be created and every failed step is told, in
    order; the path is recorded all the same (the name the clock gives, in the folder that could not be made) and
    names nothing; the cover window is black over the whole screen and closes on a click; the plain file is left
    as it was, with nothing beside it, and the seen flag is kept."""
    s = shared_scene()
    coarse_stamps(s.prefix)
    os.makedirs(s.temp, exist_ok=True)
    blocker = s.folder
    content = b"a plain file where the capture folder belongs\r\n"
    with open(blocker, "wb") as f:
        f.write(content)

    before = datetime.datetime.now()
    proc = s.start()
    try:
        boxes_seen, covers = s.drive([proc])
        after = datetime.datetime.now()
        assert boxes_seen == CREATE_FAILED
        assert covers, "the run ended by itself (exit status %s) before its cover window came up" % proc.poll()
        s.wait_black()
        s.desk.click(s.desk.wait_window(pid=proc.pid), 1, 200, 150)
        assert wait_exit(proc, 20) == 0
    finally:
        if proc.poll() is None:
            proc.kill()

    values = s.settings()
    assert values["MessageDisplayed"] == ("REG_DWORD", 1)
    kind, path = values["ScreenShotFilePath"]
    assert kind == "REG_SZ"
    assert path in [windows_path(s, os.path.join(blocker, coarse_name(t))) for t in (before, after)], path
    assert not os.path.exists(s.prefix.unix_path(path))
    assert open(blocker, "rb").read() == content
    assert os.listdir(s.temp) == [FOLDER]


def test_temporary_folder_that_does_not_exist(shared_scene):
    """TEMP and TMP name a folder that is not there: Wine answers it as it is, the capture folder cannot be made
    in it, and the run tells the failed file; nothing is created anywhere."""
    s = shared_scene()
    missing = r"C:\no\such\folder"
    set_temp(s.prefix, missing)
    rc, facts = s.probe("temp")
    assert rc == 0 and facts["temp"] == missing + "\\"
    drive_c = os.path.realpath(os.path.join(s.prefix.path, "dosdevices", "c:"))
    before = sorted(os.listdir(drive_c))

    path = s.run_refused_file()["ScreenShotFilePath"][1]
    assert re.fullmatch(re.escape(missing + "\\" + FOLDER + "\\") + r"Primary Monitor At [^\\]+\.bmp", path), path
    assert not os.path.exists(os.path.join(drive_c, "no"))
    assert sorted(os.listdir(drive_c)) == before


# Longer paths are answered as 260 is (win32.CaptureTempPathFault: answers 0, 261 and 300).
@pytest.mark.parametrize("length", [259, 260])
def test_temporary_folder_path_too_long(shared_scene, length):
    """A temporary path of 259 characters fits the 260-byte buffer but the capture's path does not (the file
    cannot be made, as for any failed file); at 260 the temporary path itself does not fit: "GetTempPath Error", no
    file, and an empty path recorded. The window is black and closes either way."""
    s = shared_scene()
    temp = long_temp(length)
    os.makedirs(s.prefix.unix_path(temp))
    set_temp(s.prefix, temp)
    rc, facts = s.probe("temp")
    assert rc == 0
    # Wine answers 0 for a path that does not fit (Windows would answer the length it needs).
    assert facts["length"] == (str(length) if length < 260 else "0")

    proc = s.start()
    boxes, covers = s.drive([proc])
    assert covers, "the run ended before its cover window came up (exit status %s)" % proc.poll()
    s.wait_black()
    assert s.close_covers([proc]) == [0]

    kind, path = s.settings()["ScreenShotFilePath"]
    assert kind == "REG_SZ"
    if length < 260:
        assert boxes == CREATE_FAILED
        assert path.startswith(temp + "\\" + FOLDER + "\\Primary Monitor At ") and path.endswith(".bmp")
    else:
        assert boxes == [error_box("GetTempPath Error")]
        assert path == ""
    assert os.listdir(s.prefix.unix_path(temp)) == []


class DiskFillsRun:
    """One run whose temporary folder is a small tmpfs that already holds an earlier capture, with room for only
    part of the new one: the pixel write fills the disk. What it showed and left is kept for the tests below."""

    def __init__(self, s, earlier_name, earlier, proc, boxes, covers):
        self.s, self.earlier_name, self.earlier = s, earlier_name, earlier
        self.proc, self.boxes, self.covers = proc, boxes, covers
        self.ended_by_itself = covers is None
        self.exit_statuses = None
        self.files = None
        self.values = None
        self.black = None  # True once the whole screen was black, otherwise why not


@pytest.fixture(scope="module")
def disk_fills(wine_template, tmp_path_factory, frostpane_exe, winprobe_exe):
    width, height = 1024, 768
    desk = Display(width, height, 24).start()
    prefix = wine_template.fresh(tmp_path_factory.mktemp("diskfull") / "prefix", desk)
    mounted = None
    try:
        desk.shown = desk.paint_picture()
        s = Scene(desk, prefix, frostpane_exe, Probe(winprobe_exe))
        prefix.reg_set(SETTINGS, "MessageDisplayed", "REG_DWORD", 1)
        file_size = 54 + width * height * 4
        os.makedirs(s.temp, exist_ok=True)
        _mount("-t", "tmpfs", "-o", "size=%d" % (file_size + file_size // 2), "frostpane-small-disk", s.temp)
        mounted = s.temp
        os.makedirs(s.folder)
        earlier_name = "Primary Monitor At 1 2 2020 3 04 05 PM.bmp"
        earlier = images.build_bmp(width, height, pictures.picture(width, height, 1), 32)
        with open(os.path.join(s.folder, earlier_name), "wb") as f:
            f.write(earlier)

        proc = s.start()
        boxes, covers = s.drive([proc])
        run = DiskFillsRun(s, earlier_name, earlier, proc, boxes, covers)
        if covers:
            try:
                s.wait_black()
                run.black = True
            except AssertionError as e:
                run.black = str(e)
            run.exit_statuses = s.close_covers([proc])
        else:
            run.exit_statuses = [wait_exit(proc, 30)]
        run.values = s.settings()
        run.files = s.captures()
        yield run
    finally:
        prefix.kill()
        if mounted:
            _unmount(mounted)
        prefix.remove()
        desk.stop()


def test_disk_fills_during_the_pixel_write_is_told_and_spares_the_earlier_capture(disk_fills):
    run = disk_fills
    assert run.boxes == [afx_box("WriteFile 3 Error")]
    assert run.files[run.earlier_name] == run.earlier
    assert run.values["MessageDisplayed"] == ("REG_DWORD", 1)
    # The part written is removed: the capture folder holds what it held before.
    assert run.files == {run.earlier_name: run.earlier}
    kind, path = run.values["ScreenShotFilePath"]
    assert kind == "REG_SZ"
    folder, name = path.rsplit("\\", 1)
    assert folder == windows_path(run.s, run.s.folder) and name.startswith("Primary Monitor At ")


def test_disk_fills_during_the_pixel_write_still_reaches_the_cover_window(disk_fills):
    run = disk_fills
    assert not run.ended_by_itself, "the run ended by itself with status %s" % run.exit_statuses
    assert run.exit_statuses == [0]
    assert run.black is True, "the cover window is not black: %s" % run.black


def test_disk_fills_during_the_pixel_write_leaves_no_truncated_capture(disk_fills):
    run = disk_fills
    for name, data in run.files.items():
        images.check_capture(data, 1024, 768, 32)


def test_disk_fills_while_replacing_a_capture_of_the_same_name(scene, mounts):
    """A run in the same hour as an earlier one (the time format is HH here; with the usual formats, the same
    second) replaces that capture - but when the disk fills during the write, the earlier picture must survive."""
    s = scene()
    coarse_stamps(s.prefix)
    w, h, _picture = s.shown
    file_size = 54 + w * h * 4
    os.makedirs(s.temp, exist_ok=True)
    mounts("-t", "tmpfs", "-o", "size=%d" % (file_size + file_size // 2), "frostpane-small-disk", s.temp)
    os.makedirs(s.folder)
    earlier = {"Primary Monitor At 2020-01-02 03.bmp": images.build_bmp(w, h, pictures.picture(w, h, 1), 32)}
    now = datetime.datetime.now()
    small = pictures.picture(320, 240)
    for moment in (now, now + datetime.timedelta(minutes=5)):
        earlier[coarse_name(moment)] = images.build_bmp(320, 240, small, 32)
    for name, data in earlier.items():
        with open(os.path.join(s.folder, name), "wb") as f:
            f.write(data)

    proc = s.start()
    boxes, covers = s.drive([proc])
    assert boxes == [afx_box("WriteFile 3 Error")]
    assert covers, "the run ended by itself (exit status %s) before its cover window came up" % proc.poll()
    # The recorded path still names the earlier capture of that name, and the window shows it, black beyond.
    shown = bytearray(w * h * 3)
    for y in range(240):
        shown[y * w * 3 : y * w * 3 + 960] = small[y * 960 : (y + 1) * 960]
    s.desk.wait_for_screen(bytes(shown))
    assert s.close_covers([proc]) == [0]
    kind, path = s.settings()["ScreenShotFilePath"]
    assert kind == "REG_SZ" and path.rsplit("\\", 1)[-1] in earlier
    left = s.captures()
    damaged = [name for name, data in earlier.items() if left.get(name) != data]
    assert damaged == [], "earlier captures lost: %s" % damaged


# Settings


BAD_TARGETS = {
    "folder": None,
    # 64 x 48 at 32 bits needs 12342 bytes; the rows stop after 3000.
    "truncated-bmp": images.build_bmp(64, 48, pictures.picture(64, 48), 32)[:3000],
}


# A text file and BMPs claiming sizes no file of theirs holds are judged in process (win32.CoverWindowBadSetting)
# and on the host (CompleteFile.*); here the executable meets what is not a file and a BMP cut short.
@pytest.mark.parametrize("target", ["folder", "truncated-bmp"])
def test_recorded_path_points_at_something_that_is_not_a_capture(scene, mounts, target):
    """The capture folder is read-only and already holds something under this run's capture name: the run cannot
    write its file (and says so), records the path, and the cover window, reading it back, meets that something.
    It shows black and closes normally, and what was there is left as it was."""
    s = scene()
    coarse_stamps(s.prefix)
    os.makedirs(s.folder)
    now = datetime.datetime.now()
    content = BAD_TARGETS[target]
    names = sorted({coarse_name(now), coarse_name(now + datetime.timedelta(minutes=5))})
    for name in names:
        path = os.path.join(s.folder, name)
        if content is None:
            os.mkdir(path)
        else:
            with open(path, "wb") as f:
                f.write(content)
    mounts("--bind", s.folder, s.folder)
    mounts("-o", "remount,ro,bind", s.folder, s.folder)

    path = s.run_refused_file()["ScreenShotFilePath"][1]
    assert path in [windows_path(s, os.path.join(s.folder, n)) for n in names]
    for name in names:
        there = os.path.join(s.folder, name)
        if content is None:
            assert os.path.isdir(there) and os.listdir(there) == []
        else:
            assert open(there, "rb").read() == content
    assert sorted(os.listdir(s.folder)) == names


# Every wrong type reads as absent (win32.ProfileTest.ValuesOfTheWrongTypeGiveTheDefaults: text, binary, 64-bit);
# the runs here show what follows from that for each value.
@pytest.mark.parametrize("value,kind,data,notices", [
    ("MessageDisplayed", "REG_SZ", "1", 1),
    ("ScreenShotFilePath", "REG_DWORD", 7, 0),
], ids=["MessageDisplayed-as-text", "ScreenShotFilePath-as-number"])
def test_settings_stored_with_the_wrong_type(shared_scene, value, kind, data, notices):
    """A wrongly typed value reads as absent: a MessageDisplayed that is not a number brings the notice once more,
    after which it is a REG_DWORD 1 and the next run shows none; a ScreenShotFilePath that is a number is replaced
    by this run's path as REG_SZ. Every run freezes the screen and ends on a key."""
    s = shared_scene(notice_seen=value != "MessageDisplayed")
    s.prefix.reg_set(SETTINGS, value, kind, data)
    w, h, picture = s.shown
    for run in range(2 if value == "MessageDisplayed" else 1):
        proc = s.start()
        boxes, covers = s.drive([proc])
        assert boxes == [afx_box(NOTICE)] * (notices if run == 0 else 0)
        assert covers, "the run ended by itself (exit status %s)" % proc.poll()
        s.desk.wait_for_screen(picture)
        assert s.close_covers([proc]) == [0]
        values = s.settings()
        assert values["MessageDisplayed"] == ("REG_DWORD", 1)
        kind_now, path = values["ScreenShotFilePath"]
        assert kind_now == "REG_SZ"
        name = path.rsplit("\\", 1)[-1]
        data_now = s.captures()[name]
        read = images.check_capture(data_now, w, h, 32)
        assert read.rgb == picture


# Concurrency


def test_two_runs_started_together(shared_scene):
    """Two runs started back to back in one prefix, three times over; both pick the same file name every time.

    Both reach their cover windows and end on a key. The one file left is a whole capture, read alike by
    harness/images.py and ImageMagick: either the picture on the screen, or, when one run photographed the other's
    cover window in the 100 ms before it draws, that window's plain background (one colour) - never a mixture of
    two captures, never short. Each run writes a file of its own and renames it into place when whole, so neither has a failure to
    tell."""
    s = shared_scene()
    coarse_stamps(s.prefix)
    w, h, picture = s.shown
    outcomes = []
    for _trial in range(3):
        before = datetime.datetime.now()
        first = s.start()
        second = s.start()
        boxes, covers = s.drive([first, second], covers=2)
        assert covers and len(covers) == 2, "a run ended by itself (exit statuses %s, %s)" % (first.poll(),
                                                                                          second.poll())
        assert boxes == [], boxes
        assert s.close_covers([first, second]) == [0, 0]
        # Both runs name the file after the hour they start in: one name, or one each across an hour boundary.
        hours = {coarse_name(before), coarse_name(datetime.datetime.now())}
        files = s.captures()
        names = set(files)
        assert names and names <= hours, (sorted(names), sorted(hours))
        for name, data in files.items():
            read = images.check_capture(data, w, h, 32)
            assert_imagemagick_agrees(os.path.join(s.folder, name), read)
            plain = len(set(zip(read.rgb[0::3], read.rgb[1::3], read.rgb[2::3]))) == 1
            assert read.rgb == picture or plain, "the capture is neither the screen nor one plain colour"
            outcomes.append(("picture" if read.rgb == picture else "plain", len(boxes)))
        kind, path = s.settings()["ScreenShotFilePath"]
        assert kind == "REG_SZ" and path.rsplit("\\", 1)[-1] in files
        for name in files:
            os.unlink(os.path.join(s.folder, name))
    print("two runs together (capture, boxes):", outcomes)


# Displays

# A 1366 x 768 screen at 24 bits is the first run's (test_capture.py).
DISPLAYS = [
    (1023, 767, 24),
    pytest.param(1023, 767, 16, marks=pytest.mark.wine10),
    (1023, 767, 8),
    (7680, 4320, 24),
]

# The twenty colours every Windows palette keeps, which is all an 8-bit bitmap compatible with the screen holds
# when no palette of the program's own is realised.
STATIC_COLOURS = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (192, 220, 192), (166, 202, 240), (255, 251, 240), (160, 160, 164), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def colour_mapped_xwd(desk, *target):
    """An xwd dump of a window of the 8-bit screen, left undecoded: (width, height, the pixel values row by row, the
    colour map the window uses as 256 (r, g, b))."""
    r = subprocess.run(["xwd", "-silent"] + list(target), env=desk.env(), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=120, check=True)
    data = r.stdout
    h = struct.unpack(">20I", data[:80])
    header_size, width, height, bits, stride, visual, ncolors = h[0], h[4], h[5], h[11], h[12], h[13], h[19]
    assert (visual, bits) == (3, 8), "not an 8-bit PseudoColor window (visual class %d, %d bits)" % (visual, bits)
    colours = [(0, 0, 0)] * 256
    for i in range(ncolors):
        pixel, red, green, blue = struct.unpack(">IHHH", data[header_size + 12 * i : header_size + 12 * i + 10])
        colours[pixel] = (red >> 8, green >> 8, blue >> 8)
    start = header_size + 12 * ncolors
    values = b"".join(data[start + y * stride : start + y * stride + width] for y in range(height))
    return width, height, values, colours


def through(values, colours):
    """RGB bytes of pixel values looked up in a colour map."""
    out = bytearray(len(values) * 3)
    for c in range(3):
        out[c::3] = values.translate(bytes(colour[c] for colour in colours))
    return bytes(out)


def distance(a, b):
    return sum((p - q) ** 2 for p, q in zip(a, b))


def nearest(colour, table):
    return min(table, key=lambda entry: distance(entry, colour))


@pytest.mark.parametrize("width,height,depth", DISPLAYS,
                         ids=["%dx%dx%d" % getattr(d, "values", d) for d in DISPLAYS])
def test_display_sizes_and_depths(scene, width, height, depth):
    """Odd widths (row padding at 16 and 8 bits), every depth Wine accepts, and a 7680 x 4320 screen (a 132 MB
    capture in a 32-bit process): no box, the cover window covers the screen and shows the capture, a key ends
    the run, and the file is the screen.

    At depth 8 the file is the screen as the platform reads it (under Wine not what X shows: see docs/platforms.md),
    and what is checked is what the program makes of that: the file holds the platform's whole table (more than
    the twenty colours every palette keeps, and those twenty among them), each pixel is the entry of that table
    nearest to what the platform reads there (GetPixel, in another process), and the cover window shows each pixel
    of the capture in the static colour nearest to it. How far the platform's reading lies from what X shows is
    Wine's, not the program's, and is not asserted."""
    s = scene(width, height, depth)
    _w, _h, picture = s.shown
    bits = {24: 32, 16: 16, 8: 8}[depth]
    # Wine reports the display's size, and its depth as the bits a compatible bitmap gets.
    rc, facts = s.probe("screen")
    assert rc == 0
    assert (facts["horzres"], facts["vertres"]) == (str(width), str(height))
    assert (facts["bitspixel"], facts["compatible_bitspixel"]) == (str(bits), str(bits))
    if depth == 8:
        rnd = random.Random(depth * width)
        points = [(rnd.randrange(width), rnd.randrange(height)) for _ in range(400)]
        rc, facts = s.probe("pixel", *[str(v) for p in points for v in p])
        assert rc == 0
        wine_reads = {}
        for x, y in points:
            v = int(facts["pixel.%d.%d" % (x, y)], 16)
            wine_reads[(x, y)] = (v >> 16, (v >> 8) & 255, v & 255)

    proc = s.start()
    boxes, covers = s.drive([proc])
    assert boxes == []
    assert covers, "the run ended by itself (exit status %s)" % proc.poll()
    winprobe.wait_covering(s.probe_all, s.prefix, width, height)
    # The capture was written before the window opened.
    files = s.captures()
    assert len(files) == 1, list(files)
    name, data = next(iter(files.items()))
    read = images.check_capture(data, width, height, bits)
    if depth == 8:
        reduced = {colour: nearest(colour, STATIC_COLOURS) for colour in read.palette}
        expected = b"".join(bytes(reduced[tuple(read.rgb[i : i + 3])]) for i in range(0, len(read.rgb), 3))
        cover = s.desk.wait_window(pid=proc.pid)
        last = [None]

        def cover_shows_it():
            cw, ch, values, colours = colour_mapped_xwd(s.desk, "-id", str(cover))
            last[0] = (cw, ch) == (width, height) and pictures.diff_rgb(width, height, through(values, colours), expected)
            return last[0] == (0, None)
        try:
            poll(cover_shows_it, 30, "the cover window to show the capture in the static colours", interval=0.2)
        except TimeoutError:
            raise AssertionError("the cover window does not show the capture in the static colours: %r"
                                 % (last[0],)) from None
    else:
        s.desk.wait_for_screen(picture, timeout=30, bits=5 if depth == 16 else 8)
    assert s.close_covers([proc]) == [0]

    kind, path = s.settings()["ScreenShotFilePath"]
    assert kind == "REG_SZ" and path.rsplit("\\", 1)[-1] == name
    assert os.listdir(s.folder) == [name]
    assert_imagemagick_agrees(os.path.join(s.folder, name), read)
    if depth == 8:
        table = set(read.palette)
        assert len(read.palette) == 256 and len(table) > 20, "the read did not fill the colour table: %d colours" \
            % len(table)
        assert set(STATIC_COLOURS) <= table, "static colours missing from the table: %r" % sorted(
            set(STATIC_COLOURS) - table)
        far = [(p, wine_reads[p], read.pixel(*p)) for p in points
               if distance(read.pixel(*p), wine_reads[p]) != min(distance(e, wine_reads[p]) for e in table)]
        assert far == [], "pixels that are not the table entry nearest to what the platform reads: %r" % far[:5]
        # Each row's padding byte is left as the zero-filled buffer held it.
        row = read.stride
        padding = [data[read.bfOffBits + y * row + width : read.bfOffBits + (y + 1) * row] for y in range(height)]
        assert set(padding) == {bytes(row - width)}, "row padding is not zero"
    else:
        assert pictures.diff_rgb(width, height, read.rgb, picture, bits=5 if depth == 16 else 8) == (0, None)
