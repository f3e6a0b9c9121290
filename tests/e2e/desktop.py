"""A private X desktop and Wine prefixes for Frostpane's end-to-end tests, and the same as a command-line wrapper.

As a library:
    with Display(1024, 768, 24) as desktop:          # Xvfb on a free display number, openbox on it
        shown = desktop.paint_picture()                # a known picture on the root window, as the screen holds it
        prefix = template.fresh(tmp / "prefix")        # template = WinePrefix.build(dir, desktop), once per session
        proc = prefix.run(exe, display=desktop)
        win = desktop.wait_window("Frostpane by Tapwright", timeout=30)

As a command:
    python3 tests/e2e/desktop.py with-display [--size WxH] [--depth D] [--dpi N] [--no-picture] [--prefix DIR] -- CMD...
starts a display with openbox and the picture, boots a Wine prefix (a temporary one unless --prefix names one),
gives it N dots per inch if asked (HKCU\\Control Panel\\Desktop LogPixels, which Wine 8 reads first), starts a
Wine session in it that lasts while CMD runs (so CMD's pipes close when its wine programs end), runs CMD
with DISPLAY, WINEPREFIX, WINEDEBUG and WINEDLLOVERRIDES set, tears everything down and exits with CMD's status.
    python3 tests/e2e/desktop.py figures [--runs N] [--winprobe winprobe.exe]
prints how long a display start, a picture, a template prefix and a fresh copy take here, and what BITSPIXEL Wine
reports at depths 24, 16 and 8.

Only the standard library is used; X clients (xdpyinfo, xprop, xdotool, xwd) and ImageMagick (display, import)
are run as subprocesses. Every wait polls with a bound and raises TimeoutError naming what it waited for.

Wine's output is never read through a pipe here: the wineserver and the service processes a wine command starts
inherit its standard error, and explorer.exe that of the first program that makes a window, so such a pipe stays
open until the whole Wine session ends. run(capture=True) and call() put the output in files instead.
"""

import argparse
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

WINEDEBUG = "-all"
# mscoree and mshtml off so no installer prompt appears; winemenubuilder off so no prefix writes menu entries and
# file associations into the user's home.
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"


def _tool(name):
    """The imagemagick package's binary, whatever else of that name comes earlier on PATH."""
    path = "/usr/bin/" + name
    return path if os.path.exists(path) else (shutil.which(name) or name)


IM_DISPLAY = _tool("display")
IM_CONVERT = _tool("convert")
IM_IMPORT = _tool("import")


def poll(predicate, timeout, what, interval=0.05):
    """Calls predicate until it returns something true and returns that; TimeoutError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def wait_exit(proc, timeout):
    """Waits for a Popen to end; its exit status, or TimeoutError if it still runs after timeout seconds."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise TimeoutError("process %s still running after %.1f s" % (proc.args, timeout)) from None


def still_running_after(proc, seconds):
    """True when proc is still running once `seconds` have passed (for checks that something does NOT end it)."""
    try:
        proc.wait(timeout=seconds)
        return False
    except subprocess.TimeoutExpired:
        return True


def _stop_process(proc, timeout=5):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=timeout)


# Pictures


def _noise(length, seed):
    """Deterministic pseudo-random bytes (a 32-bit LCG), the same on every machine."""
    out = bytearray(length)
    state = seed & 0xFFFFFFFF
    for i in range(length):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


_NOISE_PERIOD = 8191  # prime, so row offsets do not repeat before 8191 rows


def picture(width, height, variant=0):
    """RGB bytes, top-down, of a deterministic picture with per-pixel detail everywhere.

    Every row differs from its neighbours and every pixel from the ones beside it, so a capture shifted by one
    pixel, mirrored, or with its rows in the wrong order does not match. Variant 0 is a horizontal red ramp, a
    vertical green ramp and blue noise; variant 1 is red noise, a reversed green ramp and a blue ramp by rows, so
    it differs from variant 0 in almost every pixel.
    """
    if variant not in (0, 1):
        raise ValueError("variant must be 0 or 1")
    span = max(width, 1)
    noise = _noise(_NOISE_PERIOD, 12345 + variant * 777)
    noise = noise * (span // _NOISE_PERIOD + 2)
    ramp = bytes(x & 255 for x in range(width))
    reverse = bytes(255 - (x & 255) for x in range(width))
    out = bytearray(width * height * 3)
    for y in range(height):
        row = bytearray(width * 3)
        offset = (y * 1031) % _NOISE_PERIOD
        dots = noise[offset : offset + width]
        if variant == 0:
            row[0::3] = ramp
            row[1::3] = bytes([y & 255]) * width
            row[2::3] = dots
        else:
            row[0::3] = dots
            row[1::3] = reverse
            row[2::3] = bytes([(y * 3) & 255]) * width
        out[y * width * 3 : (y + 1) * width * 3] = row
    return bytes(out)


def write_ppm(path, width, height, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        f.write(rgb)


def diff_rgb(width, height, a, b, bits=8):
    """Compares two RGB pictures on the top `bits` bits of each channel.

    Returns (number of differing pixels, first difference as (x, y, pixel_a, pixel_b) or None). bits=5 compares
    what survives in a 5-5-5 file, which is how a 16-bit capture is compared with a 16-bit screen.
    """
    if len(a) != width * height * 3 or len(b) != width * height * 3:
        raise ValueError("picture sizes differ: %d, %d for %dx%d" % (len(a), len(b), width, height))
    if bits >= 8:
        qa, qb = a, b
    else:
        mask = (0xFF << (8 - bits)) & 0xFF
        table = bytes(v & mask for v in range(256))
        qa, qb = a.translate(table), b.translate(table)
    if qa == qb:
        return 0, None
    count = 0
    first = None
    for row in range(height):
        start, end = row * width * 3, (row + 1) * width * 3
        if qa[start:end] == qb[start:end]:
            continue
        for x in range(width):
            i = start + x * 3
            if qa[i : i + 3] != qb[i : i + 3]:
                count += 1
                if first is None:
                    first = (x, row, tuple(a[i : i + 3]), tuple(b[i : i + 3]))
    return count, first


def mean_abs_diff(a, b, step=7):
    """Mean absolute channel difference of two equal-length byte strings, sampling every `step`th byte."""
    n = 0
    total = 0
    for i in range(0, min(len(a), len(b)), step):
        total += abs(a[i] - b[i])
        n += 1
    return total / max(n, 1)


def _expand(value, bits):
    """A channel of `bits` bits widened to 8 by repeating its bits, as BMP readers widen 5-bit channels."""
    if bits >= 8:
        return (value >> (bits - 8)) & 0xFF
    out = 0
    pos = 8
    while pos > 0:
        pos -= bits
        out |= value << pos if pos >= 0 else value >> -pos
    return out & 0xFF


def _mask_shift_bits(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    bits = 0
    while mask & 1:
        mask >>= 1
        bits += 1
    return shift, bits


def parse_xwd(data):
    """Decodes an xwd dump of a ZPixmap (TrueColor, DirectColor or a colour-mapped visual) to (w, h, RGB bytes).

    Channels of fewer than 8 bits are widened by repeating their top bits, so the top bits of every channel are
    exactly what the screen holds.
    """
    names = (
        "header_size file_version pixmap_format pixmap_depth width height xoffset byte_order bitmap_unit "
        "bitmap_bit_order bitmap_pad bits_per_pixel bytes_per_line visual_class red_mask green_mask blue_mask "
        "bits_per_rgb colormap_entries ncolors"
    ).split()
    h = dict(zip(names, struct.unpack(">20I", data[:80])))
    if h["pixmap_format"] != 2:
        raise ValueError("xwd dump is not a ZPixmap")
    w, ht, bpp, stride = h["width"], h["height"], h["bits_per_pixel"], h["bytes_per_line"]
    cmap_off = h["header_size"]
    pix_off = cmap_off + h["ncolors"] * 12
    pixels = data[pix_off : pix_off + stride * ht]
    if len(pixels) < stride * ht:
        raise ValueError("xwd dump is truncated")
    little = h["byte_order"] == 0
    out = bytearray(w * ht * 3)
    colour_mapped = h["visual_class"] in (0, 1, 2, 3)  # StaticGray, GrayScale, StaticColor, PseudoColor
    if colour_mapped:
        rt, gt, bt = bytearray(256), bytearray(256), bytearray(256)
        lut = {}
        for i in range(h["ncolors"]):
            pixel, r, g, b, _flags, _pad = struct.unpack(">IHHHBB", data[cmap_off + i * 12 : cmap_off + i * 12 + 12])
            lut[pixel] = (r >> 8, g >> 8, b >> 8)
        if bpp != 8:
            raise ValueError("colour-mapped xwd with %d bits per pixel" % bpp)
        for pixel, (r, g, b) in lut.items():
            if pixel < 256:
                rt[pixel], gt[pixel], bt[pixel] = r, g, b
        for y in range(ht):
            row = pixels[y * stride : y * stride + w]
            base = y * w * 3
            out[base : base + w * 3 : 3] = row.translate(bytes(rt))
            out[base + 1 : base + w * 3 : 3] = row.translate(bytes(gt))
            out[base + 2 : base + w * 3 : 3] = row.translate(bytes(bt))
        return w, ht, bytes(out)
    masks = (h["red_mask"], h["green_mask"], h["blue_mask"])
    if bpp not in (16, 24, 32):
        raise ValueError("unsupported xwd layout: %d bits per pixel" % bpp)
    chans = [_mask_shift_bits(m) for m in masks]
    # Per channel, what each of its values shows: through the colour map on a DirectColor visual, otherwise the
    # value widened to 8 bits.
    tables = [bytearray(_expand(v, bits) if v < (1 << bits) else 0 for v in range(256)) for _s, bits in chans]
    if h["visual_class"] == 5:
        for i in range(h["ncolors"]):
            pixel, r, g, b, _flags, _pad = struct.unpack(">IHHHBB", data[cmap_off + i * 12 : cmap_off + i * 12 + 12])
            for c, level in enumerate((r, g, b)):
                index = (pixel & masks[c]) >> chans[c][0]
                if index < 256:
                    tables[c][index] = level >> 8
    tables = [bytes(t) for t in tables]
    step = bpp // 8
    if all(bits <= 8 for _s, bits in chans) and step == 2:
        # Each channel is the OR of what its low byte and its high byte hold; both parts are looked up per byte
        # and ORed as big integers (the parts never overlap, so nothing carries between pixels).
        from_lo = [bytes(((v & m) >> s) & 0xFF for v in range(256)) for m, (s, _b) in zip(masks, chans)]
        from_hi = [bytes((((v << 8) & m) >> s) & 0xFF for v in range(256)) for m, (s, _b) in zip(masks, chans)]
        lo_i, hi_i = (0, 1) if little else (1, 0)
        for y in range(ht):
            row = pixels[y * stride : y * stride + w * 2]
            lo, hi = row[lo_i::2], row[hi_i::2]
            base = y * w * 3
            for c in range(3):
                part = int.from_bytes(lo.translate(from_lo[c]), "big") | int.from_bytes(hi.translate(from_hi[c]), "big")
                out[base + c : base + w * 3 : 3] = part.to_bytes(w, "big").translate(tables[c])
        return w, ht, bytes(out)
    if all(bits == 8 and shift % 8 == 0 for shift, bits in chans):
        # Whole bytes per channel: slice them out.
        offsets = [s // 8 if little else step - 1 - s // 8 for s, _b in chans]
        for y in range(ht):
            row = pixels[y * stride : y * stride + w * step]
            base = y * w * 3
            for c in range(3):
                out[base + c : base + w * 3 : 3] = row[offsets[c] :: step].translate(tables[c])
        return w, ht, bytes(out)
    order = "little" if little else "big"
    cache = {}
    for y in range(ht):
        row = pixels[y * stride : y * stride + w * step]
        base = y * w * 3
        for x in range(w):
            value = int.from_bytes(row[x * step : x * step + step], order)
            rgb = cache.get(value)
            if rgb is None:
                rgb = bytes(tables[c][((value & masks[c]) >> chans[c][0]) & 0xFF] for c in range(3))
                cache[value] = rgb
            out[base + x * 3 : base + x * 3 + 3] = rgb
    return w, ht, bytes(out)


# The X display


class Display:
    """A private Xvfb screen with openbox managing it."""

    def __init__(self, width=1024, height=768, depth=24, wm=True):
        self.width, self.height, self.depth = width, height, depth
        self.wm = wm
        self.number = None
        self.xvfb = None
        self.openbox = None
        self._dir = None
        self.start_seconds = None
        self.shown = None  # what paint_picture() left on the screen, for callers that keep it here

    @property
    def name(self):
        return ":%d" % self.number

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env["DISPLAY"] = self.name
        return env

    def x(self, *args, timeout=30, check=True, input=None):
        """Runs an X client on this display; its CompletedProcess (stdout as text)."""
        return subprocess.run(
            list(args), env=self.env(), input=input, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            timeout=timeout, check=check, text=True,
        )

    def _answers(self):
        return subprocess.run(
            ["xdpyinfo"], env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10
        ).returncode == 0

    def _wm_running(self):
        r = subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(), stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True, timeout=10,
        )
        return "window id #" in r.stdout

    def start(self, timeout=20):
        started = time.monotonic()
        self._dir = tempfile.mkdtemp(prefix="frostpane-x-")
        candidate = 200 + random.SystemRandom().randrange(0, 500)
        for _attempt in range(50):
            while os.path.exists("/tmp/.X%d-lock" % candidate) or os.path.exists("/tmp/.X11-unix/X%d" % candidate):
                candidate += 1
            self.number = candidate
            log = open(os.path.join(self._dir, "xvfb.log"), "wb")
            self.xvfb = subprocess.Popen(
                ["Xvfb", self.name, "-screen", "0", "%dx%dx%d" % (self.width, self.height, self.depth),
                 "-nolisten", "tcp", "-noreset"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            )
            log.close()
            try:
                poll(lambda: self.xvfb.poll() is not None or self._answers(), timeout, "Xvfb on " + self.name)
            except TimeoutError:
                self.stop()
                raise
            if self.xvfb.poll() is None:
                break
            # Another user took this number between the check and the start: try the next one.
            candidate += 1
        else:
            raise RuntimeError("no free X display number found")
        if self.wm:
            self.openbox = subprocess.Popen(
                ["openbox", "--sm-disable"], env=self.env(), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            )
            try:
                poll(lambda: self.openbox.poll() is not None or self._wm_running(), timeout, "openbox on " + self.name)
                if self.openbox.poll() is not None:
                    raise RuntimeError("openbox ended at start on %s" % self.name)
            except BaseException:
                self.stop()
                raise
        self.start_seconds = time.monotonic() - started
        return self

    def stop(self):
        _stop_process(self.openbox)
        _stop_process(self.xvfb)
        self.openbox = self.xvfb = None
        if self._dir:
            shutil.rmtree(self._dir, ignore_errors=True)
            self._dir = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # Pictures on the root window

    def screenshot(self, via=None):
        """(width, height, RGB bytes top-down) of the whole screen as it holds it now.

        via="import" reads the root window's pixels through the root visual (ImageMagick's import); this is the
        default at depths above 8, where every window shares the root's true-colour visual. via="xwd" reads each
        window through its own visual and colour map (xwd -root); this is the default at depth 8, where Wine installs
        a colour map of its own for its windows, so that only per-window reading shows their colours as Wine means
        them. (With Wine windows on the screen xwd always switches to that per-window mode, and at depth 16 it then
        leaves channel values unscaled, which is why it is not the default there.)
        """
        if via is None:
            via = "xwd" if self.depth <= 8 else "import"
        if via == "xwd":
            r = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=120)
            if r.returncode != 0:
                raise RuntimeError("xwd failed: %s" % r.stderr.decode(errors="replace"))
            return parse_xwd(r.stdout)
        if via != "import":
            raise ValueError("via must be 'import' or 'xwd'")
        r = subprocess.run([IM_IMPORT, "-window", "root", "-depth", "8", "rgb:-"], env=self.env(),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        if r.returncode != 0 or len(r.stdout) != self.width * self.height * 3:
            raise RuntimeError("import of the root window failed (%d bytes): %s"
                               % (len(r.stdout), r.stderr.decode(errors="replace")))
        return self.width, self.height, r.stdout

    def paint_picture(self, variant=0, timeout=30):
        """Paints picture(width, height, variant) on the root window and waits until the screen shows it.

        Returns (width, height, RGB) of the screen as it then is: at depth 24 that is the picture itself; at depth
        16 it is the picture as the server quantised it to 5-6-5, which is what a capture must equal on the top
        five bits of each channel. At depth 8 it is the picture through the root's colour map, and Wine reads
        the same pixels through a colour map of its own (measured: GetPixel agrees with the X colours for about
        one pixel in five), so there a capture is compared with what Wine reads (winprobe pixel), not with this.
        """
        w, h = self.width, self.height
        source = picture(w, h, variant)
        path = os.path.join(self._dir, "picture%d.ppm" % variant)
        write_ppm(path, w, h, source)
        # display -window root answers 1 even when it painted; whether it did is judged from the screen.
        subprocess.run(
            [IM_DISPLAY, "-window", "root", path], env=self.env(), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, timeout=timeout,
        )
        # Quantisation limits: 5- and 6-bit channels are within 8 of the source; an 8-bit colour map is coarser.
        limit = {24: 0.0, 32: 0.0, 16: 4.5}.get(self.depth, 24.0)

        def shows_it():
            sw, sh, shot = self.screenshot()
            if (sw, sh) != (w, h):
                return None
            if limit == 0.0:
                return shot == source and (sw, sh, shot)
            return mean_abs_diff(shot, source) <= limit and (sw, sh, shot)

        return poll(shows_it, timeout, "picture %d on the root window of %s" % (variant, self.name), interval=0.2)

    def wait_for_screen(self, expected, timeout=10, bits=8, via=None):
        """Polls screenshots until the screen equals expected (RGB bytes of the whole screen) on the top `bits`
        bits of each channel; AssertionError with the number of differing pixels and the first one if it never
        does within timeout seconds."""
        last = [None]

        def equal():
            _w, _h, shot = self.screenshot(via)
            last[0] = diff_rgb(self.width, self.height, shot, expected, bits)
            return last[0][0] == 0
        try:
            poll(equal, timeout, "the screen to show the expected picture", interval=0.1)
        except TimeoutError:
            count, first = last[0]
            raise AssertionError("after %.1f s the screen still differs from the expected picture in %d pixels; "
                                 "first at (x, y, screen, expected) %s" % (timeout, count, first)) from None

    # Windows

    def windows(self, name=None, cls=None, pid=None, visible=True):
        """X window ids matching all given criteria; name and cls are exact, case-sensitive texts."""
        args = ["xdotool", "search"]
        if visible:
            args.append("--onlyvisible")
        if pid is not None:
            args += ["--pid", str(pid)]
        if name is not None:
            args += ["--name", "^" + _ere_escape(name) + "$"]
        elif cls is not None:
            args += ["--class", "^" + _ere_escape(cls) + "$"]
        elif pid is None:
            args += ["--name", ".*"]
        r = subprocess.run(args, env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           timeout=10)
        found = [int(line) for line in r.stdout.split()]
        if name is not None:
            found = [w for w in found if self.window_name(w) == name]
        if cls is not None:
            found = [w for w in found if cls in self.window_class(w)]
        return found

    def wait_window(self, name=None, cls=None, pid=None, visible=True, timeout=30):
        """The first X window that matches (see windows()), polling for at most timeout seconds."""
        found = poll(lambda: self.windows(name, cls, pid, visible), timeout,
                     "a window name=%r class=%r pid=%r on %s" % (name, cls, pid, self.name))
        return found[0]

    def window_name(self, win):
        r = subprocess.run(["xdotool", "getwindowname", str(win)], env=self.env(), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=10)
        return r.stdout.decode("utf-8", errors="replace").rstrip("\n") if r.returncode == 0 else None

    def window_class(self, win):
        """The WM_CLASS strings (instance, class) of a window, or () when it has none."""
        r = subprocess.run(["xprop", "-id", str(win), "WM_CLASS"], env=self.env(), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, timeout=10)
        return tuple(re.findall(r'"([^"]*)"', r.stdout))

    def geometry(self, win):
        """{'x', 'y', 'width', 'height'} of a window, its position relative to the root."""
        r = self.x("xdotool", "getwindowgeometry", "--shell", str(win))
        facts = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
        return {k.lower(): int(facts[k]) for k in ("X", "Y", "WIDTH", "HEIGHT")}

    def active_window(self):
        r = subprocess.run(["xdotool", "getactivewindow"], env=self.env(), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, timeout=10)
        return int(r.stdout) if r.returncode == 0 and r.stdout.strip() else None

    def activate(self, win, timeout=10):
        """Asks the window manager to activate win and waits until it is the active window."""
        def active():
            if self.active_window() == win:
                return True
            subprocess.run(["xdotool", "windowactivate", str(win)], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=10)
            return self.active_window() == win
        poll(active, timeout, "window %d to become active" % win, interval=0.1)

    def key(self, win, keysym):
        """Activates win, then types keysym (e.g. 'Return', 'Escape', 'a', 'shift+Tab') as real input."""
        if win is not None:
            self.activate(win)
        self.x("xdotool", "key", "--clearmodifiers", keysym)

    def mouse_to(self, x, y, win=None, timeout=10):
        """Moves the pointer to (x, y), relative to win when given, and waits until it is there."""
        if win is not None:
            g = self.geometry(win)
            x, y = g["x"] + x, g["y"] + y
        self.x("xdotool", "mousemove", str(x), str(y))

        def there():
            r = self.x("xdotool", "getmouselocation", "--shell")
            facts = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
            return int(facts["X"]) == x and int(facts["Y"]) == y
        poll(there, timeout, "the pointer at %d,%d" % (x, y))

    def click(self, win, button, x, y):
        """A real click of button (1 left, 2 middle, 3 right, 4/5 wheel) at (x, y) inside win, or on the screen
        when win is None."""
        self.mouse_to(x, y, win)
        self.x("xdotool", "click", str(button))


def _ere_escape(text):
    return "".join("\\" + c if c in ".[]()*+?{}|^$\\" else c for c in text)


# Wine prefixes


class WineProcess(subprocess.Popen):
    """A wine process whose output, when captured, goes to files: read it with output() once it has ended."""

    def output(self):
        return _read_back(self.stdout_file)

    def errors(self):
        return _read_back(self.stderr_file)


def _read_back(f):
    if f is None:
        return ""
    f.seek(0)
    return _decode(f.read()).replace("\r", "")


def _run_to_end(args, env, timeout):
    """Runs a wine command to its end with its output in files; CompletedProcess with texts.

    Wine's output is never read through a pipe: the wineserver, the service processes and explorer.exe that a
    wine command starts inherit its standard error, so a pipe would stay open until the whole Wine session ends.
    """
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise TimeoutError("%s still running after %.1f s" % (args, timeout)) from None
        return subprocess.CompletedProcess(args, rc, _read_back(out), _read_back(err))


class WinePrefix:
    """A Wine prefix; build() makes the once-per-session template, fresh() copies it for one test.

    Each wine command the methods below start begins a Wine session if none is running (a wineserver, the service
    processes, and explorer.exe once a window is made); the session ends a few seconds after its last program.
    start_session() instead starts one that lasts until kill(), with nothing inheriting the caller's output.
    """

    def __init__(self, path, display=None):
        self.path = os.path.abspath(path)
        self.display = display
        self.boot_seconds = None
        self._temp = None
        self._explorer = None

    def __repr__(self):
        return "WinePrefix(%r)" % self.path

    @classmethod
    def build(cls, path, display=None, timeout=300):
        """Boots a new prefix at path (wineboot -i, then wineserver -w) with the crash dialog turned off."""
        prefix = cls(path, display)
        if os.path.exists(os.path.join(prefix.path, "system.reg")):
            raise FileExistsError("a prefix exists already at %s" % prefix.path)
        os.makedirs(os.path.dirname(prefix.path), exist_ok=True)
        started = time.monotonic()
        r = _run_to_end(["wineboot", "-i"], prefix.env(), timeout)
        if r.returncode != 0:
            raise RuntimeError("wineboot -i failed in %s:\n%s%s" % (prefix.path, r.stdout, r.stderr))
        prefix.reg_set(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", 0)
        prefix.wait_idle(timeout)
        prefix.boot_seconds = time.monotonic() - started
        return prefix

    def fresh(self, path, display=None):
        """A new prefix at path (which must not exist, or be an empty folder): a copy of this one."""
        path = os.path.abspath(path)
        if os.path.isdir(path) and not os.listdir(path):
            os.rmdir(path)
        if os.path.exists(path):
            raise FileExistsError("%s exists and is not empty" % path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["cp", "-a", self.path, path], check=True, timeout=300)
        return WinePrefix(path, display if display is not None else self.display)

    def env(self, display=None):
        env = dict(os.environ)
        display = display if display is not None else self.display
        if display is None:
            env.pop("DISPLAY", None)
        else:
            env["DISPLAY"] = display.name if isinstance(display, Display) else str(display)
        env.update(WINEPREFIX=self.path, WINEDEBUG=WINEDEBUG, WINEDLLOVERRIDES=WINEDLLOVERRIDES)
        return env

    def run(self, exe, *args, display=None, capture=False, **popen):
        """Starts `wine exe args...` and returns at once with a WineProcess (a Popen).

        The process is the Windows program itself, so its exit status is the program's. With capture=True its
        output goes to files, read with .output() and .errors() after it ended; pipes are refused (see
        _run_to_end for why).
        """
        if popen.get("stdout") == subprocess.PIPE or popen.get("stderr") == subprocess.PIPE:
            raise ValueError("wine output through a pipe stays open as long as the Wine session: use capture=True")
        out = err = None
        if capture:
            out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
            popen["stdout"], popen["stderr"] = out, err
        popen.setdefault("stdin", subprocess.DEVNULL)
        popen.setdefault("stdout", subprocess.DEVNULL)
        popen.setdefault("stderr", subprocess.DEVNULL)
        proc = WineProcess(["wine", str(exe)] + [str(a) for a in args], env=self.env(display), **popen)
        proc.stdout_file, proc.stderr_file = out, err
        return proc

    def call(self, exe, *args, display=None, timeout=60):
        """Runs `wine exe args...` to its end; CompletedProcess with stdout and stderr as text (\r removed)."""
        return _run_to_end(["wine", str(exe)] + [str(a) for a in args], self.env(display), timeout)

    def probe(self, winprobe, *args, display=None, timeout=60):
        """Runs winprobe with args; (exit status, facts as a dict of unescaped texts)."""
        r = self.call(winprobe, *args, display=display, timeout=timeout)
        return r.returncode, parse_probe(r.stdout)

    def start_session(self, display=None, timeout=60):
        """Starts a Wine session that lasts until kill(): a persistent wineserver, the services and explorer.exe,
        none of them holding the caller's output. Programs then start faster, and a command whose output is read
        through a pipe (ctest's, say) sees it closed when the program ends. wait_idle() cannot be used then."""
        env = self.env(display)
        subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=True)
        self._explorer = subprocess.Popen(["wine", "explorer.exe", "/desktop"], env=env, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        r = _run_to_end(["wine", "cmd.exe", "/c", "exit"], env, timeout)
        if r.returncode != 0:
            raise RuntimeError("Wine session in %s did not start: %s" % (self.path, r.stderr))

    def wait_idle(self, timeout=60):
        """Waits until every process of the prefix and its wineserver have ended (wineserver -w)."""
        if self._explorer is not None:
            raise RuntimeError("a session started with start_session() lasts until kill()")
        try:
            subprocess.run(["wineserver", "-w"], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError("Wine processes of %s still running after %.1f s" % (self.path, timeout)) from None

    def kill(self, timeout=30):
        """Ends every process of the prefix and its wineserver (wineserver -k), and waits for that."""
        if not os.path.isdir(self.path):
            return
        subprocess.run(["wineserver", "-k"], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)
        if self._explorer is not None:
            _stop_process(self._explorer)
            self._explorer = None
        self.wait_idle(timeout)

    def remove(self, server_folder=False):
        """kill(), then deletes the prefix folder.

        Debian's wine keeps the wineserver sockets of a prefix in /tmp/wine-XXXXXX, named in the prefix's file
        'wineserver', and copies of a prefix share that folder. server_folder=True deletes it too: for a prefix
        made by build() once all its copies are gone.
        """
        self.kill()
        folder = None
        try:
            with open(os.path.join(self.path, "wineserver")) as f:
                name = f.read().strip()
            if re.fullmatch(r"wine-[A-Za-z0-9]+", name):
                folder = os.path.join(tempfile.gettempdir(), name)
        except OSError:
            pass
        shutil.rmtree(self.path, ignore_errors=True)
        if server_folder and folder:
            shutil.rmtree(folder, ignore_errors=True)

    def _reg(self, *args, timeout=60):
        r = _run_to_end(["wine", "reg"] + list(args), self.env(), timeout)
        return r.returncode, r.stdout, r.stderr

    def reg_values(self, key):
        """{name: (type, data)} of the values directly under key, or None when the key does not exist."""
        rc, out, _err = self._reg("query", key)
        if rc != 0:
            return None
        values = {}
        section = None
        for line in out.split("\n"):
            if line and not line.startswith(" "):
                section = line.strip()
                continue
            m = re.match(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$", line)
            if m and section and section.lower() == _full_key(key).lower():
                values[m.group(1)] = _reg_data(m.group(2), m.group(3) or "")
        return values

    def reg_query(self, key, value):
        """(type, data) of one value, or None when the key or the value is absent.

        REG_DWORD data is an int, REG_BINARY bytes, REG_MULTI_SZ a list of texts, anything else the text.
        """
        rc, out, _err = self._reg("query", key, "/v", value)
        if rc != 0:
            return None
        for line in out.split("\n"):
            m = re.match(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$", line)
            if m and m.group(1) == value:
                return _reg_data(m.group(2), m.group(3) or "")
        return None

    def reg_set(self, key, value, type, data):
        """Writes one value. data: int for REG_DWORD, bytes for REG_BINARY, a text otherwise."""
        if isinstance(data, (bytes, bytearray)):
            data = data.hex()
        rc, _out, err = self._reg("add", key, "/v", value, "/t", type, "/d", str(data), "/f")
        if rc != 0:
            raise RuntimeError("reg add %s %s failed: %s" % (key, value, err))

    def reg_delete(self, key, value=None):
        """Deletes a value, or the whole key when value is None; True when something was deleted."""
        args = ["delete", key] + (["/v", value] if value is not None else []) + ["/f"]
        rc, _out, _err = self._reg(*args)
        return rc == 0

    def unix_path(self, windows_path):
        """The unix path of a path on one of the prefix's drives (C:\\users\\... -> <prefix>/drive_c/users/...)."""
        m = re.match(r"^([A-Za-z]):\\?(.*)$", windows_path)
        if not m:
            raise ValueError("not a drive path: %r" % windows_path)
        root = os.path.realpath(os.path.join(self.path, "dosdevices", m.group(1).lower() + ":"))
        rest = [p for p in m.group(2).split("\\") if p]
        return os.path.join(root, *rest)

    def temp_dir(self):
        """The unix path of the prefix user's temporary folder, where GetTempPathA points (TMP, then TEMP)."""
        if self._temp is None:
            env = self.reg_values(r"HKCU\Environment") or {}
            for name in ("TMP", "TEMP"):
                if name in env:
                    text = env[name][1]
                    profile = (self.reg_values(r"HKCU\Volatile Environment") or {}).get("USERPROFILE")
                    if profile:
                        text = text.replace("%USERPROFILE%", profile[1])
                    self._temp = self.unix_path(text)
                    break
            else:
                raise RuntimeError("no TMP or TEMP in HKCU\\Environment of %s" % self.path)
        return self._temp


_HIVES = {
    "HKCU": "HKEY_CURRENT_USER",
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS",
    "HKCC": "HKEY_CURRENT_CONFIG",
}


def _full_key(key):
    """A key path with its hive spelt out, as reg query prints it."""
    hive, _sep, rest = key.rstrip("\\").partition("\\")
    hive = _HIVES.get(hive.upper(), hive.upper())
    return hive + ("\\" + rest if rest else "")


def _decode(raw):
    return raw.decode("utf-8", errors="replace")


def _reg_data(kind, text):
    if kind == "REG_DWORD":
        return kind, int(text, 16) if text.lower().startswith("0x") else int(text)
    if kind == "REG_QWORD":
        return kind, int(text, 16) if text.lower().startswith("0x") else int(text)
    if kind == "REG_BINARY":
        return kind, bytes.fromhex(text)
    if kind == "REG_MULTI_SZ":
        return kind, [t for t in text.split("\\0") if t]
    return kind, text


def parse_probe(text):
    """winprobe's key=value lines as a dict, with its escapes (\\n \\r \\t \\\\ \\xNN) undone."""
    facts = {}
    for line in text.replace("\r", "").split("\n"):
        if "=" not in line:
            continue
        key, value = line.split("=", 1)
        facts[key] = _unescape(value)
    return facts


def _unescape(value):
    out = bytearray()
    i = 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value):
            n = value[i + 1]
            if n == "x" and i + 3 < len(value):
                out.append(int(value[i + 2 : i + 4], 16))
                i += 4
                continue
            out += {"n": b"\n", "r": b"\r", "t": b"\t"}.get(n, n.encode("latin-1"))
            i += 2
            continue
        out += c.encode("latin-1", errors="replace")
        i += 1
    return out.decode("cp1252", errors="replace")


def probe_arg(text):
    """A text as winprobe takes it on its command line (it reads \\n, \\t and \\\\ as escapes)."""
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t").replace("\r", "\\r")


def probe_children(facts):
    """The child controls in winprobe find's facts, as a list of dicts (class, id, style, text, rect, ...)."""
    count = int(facts.get("children", "0"))
    children = []
    for i in range(count):
        prefix = "child%d." % i
        children.append({k[len(prefix):]: v for k, v in facts.items() if k.startswith(prefix)})
    return children


def read_box(probe, prefix, caption, exe, timeout=30):
    """winprobe's facts of exe's message box with this caption, and its texts, buttons and icons; probe is the
    fixture's probe(prefix, *args) callable.

    winprobe names an icon by the pixels it shows, and a box can be found before it has painted them; so the box
    is read again until each icon matches its candidate exactly (score 0), or the bound has passed.
    """
    deadline = time.monotonic() + timeout
    while True:
        rc, facts = probe(prefix, "find", "--timeout", str(int(timeout * 1000)), "--class", "#32770", "--exe",
                          exe, probe_arg(caption))
        assert rc == 0, "no box titled %r appeared" % caption
        children = probe_children(facts)
        icons = [c for c in children if c.get("icon", "0x00000000") != "0x00000000"]
        if all(float(c.get("icon_match_score", "1")) == 0.0 for c in icons) or time.monotonic() > deadline:
            break
    texts = [c["text"] for c in children if c["class"] == "Static" and c["text"]]
    buttons = [(c["text"], c["id"]) for c in children if c["class"] == "Button"]
    return facts, texts, buttons, [c.get("icon_match") for c in icons]


# The command line


def _with_display(args):
    cmd = args.cmd
    if cmd and cmd[0] == "--":
        cmd = cmd[1:]
    if not cmd:
        print("with-display: no command given", file=sys.stderr)
        return 2
    width, height = (int(v) for v in args.size.lower().split("x"))
    display = Display(width, height, args.depth)
    work = None
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
            prefix = WinePrefix(args.prefix, display)
            if not os.path.exists(os.path.join(prefix.path, "system.reg")):
                prefix = WinePrefix.build(args.prefix, display)
        else:
            work = tempfile.mkdtemp(prefix="frostpane-wine-")
            prefix = WinePrefix.build(os.path.join(work, "prefix"), display)
        if args.dpi:
            prefix.reg_set(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", args.dpi)
            prefix.wait_idle()
        prefix.start_session(display)
        env = prefix.env(display)
        child = subprocess.Popen(cmd, env=env)
        return child.wait()
    except KeyboardInterrupt:
        _stop_process(child)
        return 130
    finally:
        if prefix is not None:
            if work:
                prefix.remove(server_folder=True)
            else:
                prefix.kill()
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
            template = WinePrefix.build(os.path.join(work, "template"), display)
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


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("with-display", help="run a command on a private display with a Wine prefix")
    p.add_argument("--size", default="1024x768", help="screen size WxH (default 1024x768)")
    p.add_argument("--depth", type=int, default=24, help="screen depth in bits (default 24)")
    p.add_argument("--dpi", type=int, help="Wine's dots per inch (LogPixels; Wine's default is 96)")
    p.add_argument("--no-picture", action="store_true", help="leave the root window black")
    p.add_argument("--prefix", help="use (and boot if new) this Wine prefix instead of a temporary one")
    p.add_argument("cmd", nargs=argparse.REMAINDER, help="-- the command to run")
    f = sub.add_parser("figures", help="print how long displays and prefixes take here, and Wine's depths")
    f.add_argument("--runs", type=int, default=5, help="display starts to time (default 5)")
    f.add_argument("--winprobe", help="winprobe.exe, to ask Wine what each depth gives")
    args = parser.parse_args(argv)
    if args.command == "with-display":
        return _with_display(args)
    if args.command == "figures":
        return _figures(args)
    return 2


if __name__ == "__main__":
    sys.exit(main())
