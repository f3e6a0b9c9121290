"""Checks of the end-to-end harness itself: the BMP reader, the pictures on the screen, Wine prefixes and winprobe.

The end-to-end tests of the program trust these pieces to tell a right capture from a wrong one, so each is shown
here to agree with an independent party (ImageMagick, the X server, Wine's own answers).
"""

import os
import random
import struct
import subprocess
import sys
from pathlib import Path

import pytest

from harness import boxes, images, pictures, winprobe
from harness.waiting import wait_exit

REPO = Path(__file__).resolve().parents[2]
W, H = 37, 23  # odd sizes, so every depth has row padding

PALETTE = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 128, 0), (0, 0, 255), (17, 34, 51), (200, 100, 50),
           (5, 250, 128), (99, 99, 99), (1, 2, 3), (254, 253, 252), (128, 0, 128), (0, 255, 255), (70, 80, 90),
           (210, 180, 140), (64, 32, 16)]


def _palette_picture(colours, seed):
    rnd = random.Random(seed)
    return bytes(c for _ in range(W * H) for c in rnd.choice(colours))


# The BMP reader


IMAGEMAGICK_FILES = [
    # name, convert arguments, expected bit count, expected compression
    ("1bpp", ["-type", "bilevel", "BMP3:%s"], 1, images.BI_RGB),
    ("4bpp", ["-colors", "16", "-type", "palette", "-compress", "none", "BMP3:%s"], 4, images.BI_RGB),
    ("8bpp", ["-colors", "200", "-type", "palette", "-compress", "none", "BMP3:%s"], 8, images.BI_RGB),
    ("16bpp-565-bitfields", ["-define", "bmp:subtype=RGB565", "BMP:%s"], 16, images.BI_BITFIELDS),
    ("24bpp", ["-type", "truecolor", "BMP3:%s"], 24, images.BI_RGB),
    ("32bpp-bitfields", ["-alpha", "on", "BMP:%s"], 32, images.BI_BITFIELDS),
]


@pytest.mark.parametrize("name,args,bits,compression", IMAGEMAGICK_FILES, ids=[c[0] for c in IMAGEMAGICK_FILES])
def test_bmp_reader_agrees_with_imagemagick_on_its_files(tmp_path, name, args, bits, compression):
    source = pictures.picture(W, H)
    ppm = tmp_path / "source.ppm"
    images.write_ppm(ppm, W, H, source)
    out = tmp_path / (name + ".bmp")
    subprocess.run([images.IM_CONVERT, str(ppm)] + [a.replace("%s", str(out)) for a in args], check=True, timeout=60)

    read = images.read_bmp(out)
    assert (read.biBitCount, read.biCompression) == (bits, compression)
    assert (read.width, read.height) == (W, H)
    iw, ih, theirs = images.rgb_of_file_via_imagemagick(out)
    assert (iw, ih) == (W, H)
    assert pictures.diff_rgb(W, H, read.rgb, theirs) == (0, None)
    if bits >= 24:
        assert read.rgb == source


OWN_FILES = [
    # bits, top-down, colours used, biClrUsed, table entries
    (1, False, 2, None, None),
    (1, True, 2, 0, 2),
    (4, False, 16, None, None),
    (4, True, 6, 0, 16),
    (4, False, 6, None, None),  # a short table: biClrUsed 6
    (8, False, 16, 0, 256),  # biClrUsed 0 means a full table
    (8, True, 16, None, None),
    (16, False, None, None, None),
    (16, True, None, None, None),
    (16, False, None, 65536, 65536),  # an unused table ahead of the pixels, as a 16-bit capture may carry
    (24, False, None, None, None),
    (24, True, None, None, None),
    (32, False, None, None, None),
    (32, True, None, None, None),
]


@pytest.mark.parametrize("bits,top_down,colours,clr_used,entries", OWN_FILES,
                         ids=["%dbpp-%s-used%s-table%s" % (c[0], "topdown" if c[1] else "bottomup", c[3], c[4])
                              for c in OWN_FILES])
def test_bmp_reader_agrees_with_imagemagick_on_files_written_here(tmp_path, bits, top_down, colours, clr_used,
                                                                  entries):
    if colours:
        palette = PALETTE[:colours]
        source = _palette_picture(palette, bits * 7 + colours)
    else:
        palette = None
        source = pictures.picture(W, H, variant=1 if top_down else 0)
    data = images.build_bmp(W, H, source, bits, top_down=top_down, palette=palette, clr_used=clr_used,
                         table_entries=entries)
    path = tmp_path / "own.bmp"
    path.write_bytes(data)

    read = images.read_bmp(path)
    assert read.biBitCount == bits and read.top_down == top_down
    assert read.bfOffBits == 54 + 4 * (entries if entries is not None else (colours or 0))
    assert read.bfSize == len(data)
    _w, _h, theirs = images.rgb_of_file_via_imagemagick(path)
    assert pictures.diff_rgb(W, H, read.rgb, theirs) == (0, None)
    # 5-5-5 keeps the top five bits of each channel; every other depth here is lossless.
    assert pictures.diff_rgb(W, H, read.rgb, source, bits=5 if bits == 16 else 8) == (0, None)


def test_bmp_reader_refuses_what_it_cannot_read():
    good = images.build_bmp(W, H, pictures.picture(W, H), 24)
    images.read_bmp(good)
    with pytest.raises(ValueError, match="do not fit"):
        images.read_bmp(good[:-1])
    with pytest.raises(ValueError, match="not a BMP"):
        images.read_bmp(b"XY" + good[2:])
    rle = bytearray(good)
    struct.pack_into("<I", rle, 30, 1)
    with pytest.raises(ValueError, match="compression"):
        images.read_bmp(bytes(rle))
    indexed = bytearray(images.build_bmp(W, H, _palette_picture(PALETTE[:4], 1), 8, palette=PALETTE[:4]))
    indexed[54 + 4 * 4] = 200  # the first pixel points past the four-entry table
    with pytest.raises(ValueError, match="beyond a colour table"):
        images.read_bmp(bytes(indexed))


# Pictures and the screen


def test_picture_catches_shifts_flips_and_the_other_variant():
    w, h = 300, 200
    pic = pictures.picture(w, h)
    assert pic == pictures.picture(w, h)

    def pixel(data, x, y):
        return data[(y * w + x) * 3 : (y * w + x) * 3 + 3]

    shifted_x = sum(pixel(pic, x, y) != pixel(pic, x + 1, y) for y in range(h) for x in range(w - 1))
    shifted_y = sum(pixel(pic, x, y) != pixel(pic, x, y + 1) for y in range(h - 1) for x in range(w))
    flipped = sum(pixel(pic, x, y) != pixel(pic, x, h - 1 - y) for y in range(h) for x in range(w))
    assert shifted_x == (w - 1) * h
    assert shifted_y == w * (h - 1)
    assert flipped == w * h
    other = pictures.picture(w, h, 1)
    assert pictures.diff_rgb(w, h, pic, other)[0] > 0.99 * w * h
    # What survives of the noise in five bits still differs between neighbours nearly everywhere.
    mask5 = bytes(v & 0xF8 for v in range(256))
    pic5 = pic.translate(mask5)
    assert sum(pixel(pic5, x, y) != pixel(pic5, x + 1, y) for y in range(h) for x in range(w - 1)) > 0.95 * (w - 1) * h


@pytest.mark.parametrize("depth", [24, 16, 8])
def test_painted_picture_is_what_the_screen_shows(desktop, depth):
    desk = desktop(320, 200, depth, picture=False)
    w, h, before = desk.screenshot()
    assert (w, h) == (320, 200)
    source = pictures.picture(w, h)
    _w, _h, shown = desk.paint_picture()
    if depth == 24:
        assert shown == source
        assert desk.screenshot(via="xwd")[2] == shown
    elif depth == 16:
        # 5-6-5 quantisation: within one step of the source in every channel.
        assert max(abs(a - b) for a, b in zip(shown, source)) <= 9
    else:
        assert pictures.mean_abs_diff(shown, source, 1) < 24
    assert pictures.mean_abs_diff(before, source, 1) > 60
    _w, _h, other = desk.paint_picture(variant=1)
    assert pictures.diff_rgb(w, h, shown, other)[0] > 0.95 * w * h
    _w, _h, again = desk.paint_picture(variant=0)
    assert again == shown


def test_two_displays_run_side_by_side(desktop):
    a = desktop(200, 100, 24, picture=False)
    b = desktop(300, 150, 16, picture=False)
    assert a.number != b.number
    assert a.screenshot()[:2] == (200, 100) and b.screenshot()[:2] == (300, 150)
    for desk in (a, b):
        r = desk.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK")
        assert "window id #" in r.stdout


# Wine, winprobe and the window helpers


def test_winprobe_reads_message_boxes(desktop, prefix, probe, winprobe_exe):
    """Three boxes in turn: each icon named (or none), and each way of closing one answered as it should be."""
    desk = prefix.display = desktop()
    for kind, icon, close_with in [(0x30, "exclamation", "Return"), (0x10, "hand", "click"), (0, None, "Escape")]:
        text = "First line: a \\ b.\n\nSecond line."
        caption = "Probe Caption %d" % kind
        box = prefix.run(winprobe_exe, "msgbox", winprobe.arg(text), winprobe.arg(caption), hex(kind), capture=True)
        try:
            # Read again until the icon has been painted: winprobe names it by its pixels.
            facts = boxes.read(prefix, probe, caption, "winprobe.exe")[1]
            assert (facts["title"], facts["class"], facts["exe"]) == (caption, "#32770", "winprobe.exe")
            assert facts["owner"] == "0x00000000" and facts["matches"] == "1"
            children = winprobe.children(facts)
            texts = [c for c in children if c["class"] == "Static" and c["text"]]
            assert [c["text"] for c in texts] == [text]
            buttons = [c for c in children if c["class"] == "Button"]
            assert [(b["text"], b["id"]) for b in buttons] == [("OK", "1")]
            icons = [c for c in children if c.get("icon", "0x00000000") != "0x00000000"]
            assert [c["icon_match"] for c in icons] == ([icon] if icon else [])
            if icon:
                assert float(icons[0]["icon_match_score"]) == 0.0

            win = desk.wait_window(caption)
            if close_with == "click":
                ox, oy = (int(v) for v in facts["client_origin"].split(","))
                left, top, right, bottom = (int(v) for v in buttons[0]["rect"].split(","))
                desk.click(None, 1, ox + (left + right) // 2, oy + (top + bottom) // 2)
            else:
                desk.key(win, close_with)
            assert wait_exit(box, 20) == 0
            result = winprobe.parse(box.output())["result"]
            assert result == ("2" if close_with == "Escape" else "1"), close_with
        finally:
            if box.poll() is None:
                box.kill()


def test_winprobe_posts_to_an_untitled_window_by_class_and_exe(desktop, prefix, probe, winprobe_exe):
    desk = prefix.display = desktop()
    rc, facts = probe(prefix, "find", "--timeout", "0", "--class", "WinprobePlain")
    assert (rc, facts) == (1, {"matches": "0"})
    plain = prefix.run(winprobe_exe, "window", "", "10", "20", "300", "200", "--popup", "--color", "0x102030")
    try:
        rc, facts = probe(prefix, "find", "--timeout", "30000", "--class", "WinprobePlain", "--exe", "WINPROBE.EXE",
                          "")
        assert rc == 0 and facts["title"] == "" and facts["rect"] == "10,20,310,220"
        x_win = desk.wait_window(pid=plain.pid)
        assert desk.geometry(x_win) == {"x": 10, "y": 20, "width": 300, "height": 200}
        rc, _ = probe(prefix, "post", "--class", "WinprobePlain", "--exe", "other.exe", "", "0x0010", "0", "0",
                      "--timeout", "0")
        assert rc == 1 and plain.poll() is None
        rc, facts = probe(prefix, "post", "--class", "WinprobePlain", "--exe", "winprobe.exe", "", "0x0010", "0", "0")
        assert rc == 0 and facts["posted"] == "1"
        assert wait_exit(plain, 20) == 0
    finally:
        if plain.poll() is None:
            plain.kill()


def test_registry_helpers_and_temp_dir(desktop, prefix, probe):
    prefix.display = desktop(picture=False)
    key = r"HKCU\Software\Probe Vendor\Probe App\Settings"
    assert prefix.reg_query(key, "Missing") is None
    prefix.reg_set(key, "Count", "REG_DWORD", 0xFFFFFFFE)
    prefix.reg_set(key, "Path", "REG_SZ", r"C:\users\x y\Temp\a  b.bmp")
    prefix.reg_set(key, "Empty", "REG_SZ", "")
    prefix.reg_set(key, "Blob", "REG_BINARY", b"\x00\x01\xfe")
    # Characters the console's code page lacks, and the export's quoting.
    spelt = r'C:\users\Łukasz 許\"ソ"\\'
    prefix.reg_set(key, r'Named "\ Ł', "REG_SZ", spelt)
    prefix.reg_set(key, "Expand", "REG_EXPAND_SZ", "%USERPROFILE%\\Temp")
    assert prefix.reg_query(key, "Count") == ("REG_DWORD", 0xFFFFFFFE)
    assert prefix.reg_query(key, "Path") == ("REG_SZ", r"C:\users\x y\Temp\a  b.bmp")
    assert prefix.reg_query(key, "Empty") == ("REG_SZ", "")
    assert prefix.reg_query(key, "Blob") == ("REG_BINARY", b"\x00\x01\xfe")
    assert prefix.reg_query(key, r'Named "\ Ł') == ("REG_SZ", spelt)
    assert prefix.reg_query(key, "Expand") == ("REG_EXPAND_SZ", "%USERPROFILE%\\Temp")
    assert set(prefix.reg_values(key)) == {"Count", "Path", "Empty", "Blob", r'Named "\ Ł', "Expand"}
    assert prefix.reg_delete(key, "Count")
    assert prefix.reg_query(key, "Count") is None
    assert prefix.reg_delete(r"HKCU\Software\Probe Vendor")
    assert prefix.reg_values(key) is None

    rc, facts = probe(prefix, "temp")
    assert rc == 0
    assert os.path.normpath(prefix.unix_path(facts["temp"])) == prefix.temp_dir()
    assert os.path.isdir(prefix.temp_dir()) and prefix.temp_dir().startswith(prefix.path)


def test_with_display_runs_a_command_and_tears_down(wine_template, tmp_path):
    copy = wine_template.fresh(tmp_path / "prefix")
    script = ('xdpyinfo | grep -e dimensions -e "depth of root";'
              'echo "prefix=$WINEPREFIX debug=$WINEDEBUG loader=$WINELOADER display=$DISPLAY"; exit 7')
    try:
        r = subprocess.run([sys.executable, "-m", "harness", "with-display", "--size", "640x400", "--depth", "16",
                            "--flavour", copy.wine.flavour, "--prefix", copy.path, "--", "sh", "-c", script],
                           cwd=REPO, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
        assert r.returncode == 7, r.stderr
        assert "640x400 pixels" in r.stdout and "16 planes" in r.stdout
        assert "prefix=%s debug=-all loader=%s" % (copy.path, copy.wine.loader) in r.stdout
        number = r.stdout.split("display=:")[1].split()[0]
        assert not os.path.exists("/tmp/.X%s-lock" % number)
    finally:
        copy.remove()
