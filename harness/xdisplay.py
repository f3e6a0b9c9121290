"""A private X display on a free display number with openbox managing it: Xvfb with one screen, or, for a desk
with several monitors, Xorg with the dummy video driver and one RandR output per monitor. Pictures on its root
window, screenshots, windows found with xdotool, and real keys and clicks."""

import collections
import os
import random
import re
import shutil
import subprocess
import tempfile
import time

from harness.images import IM_DISPLAY, IM_IMPORT, parse_xwd, write_ppm
from harness.pictures import diff_rgb, mean_abs_diff, picture
from harness.waiting import poll, stop_process
from harness.wine import program_pids

# One monitor: its size in pixels and where its top-left corner lies on the root window.
Monitor = collections.namedtuple("Monitor", "width height x y primary", defaults=(0, 0, False))

# The Xorg configuration of a desk with several monitors: the dummy driver with room for the whole framebuffer, no
# input devices of its own (xdotool's input goes through XTEST).
XORG_CONF = """Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam %(videoram)d
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 1.0-10000.0
  VertRefresh 1.0-1000.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth %(depth)d
  SubSection "Display"
    Depth %(depth)d
    Virtual %(width)d %(height)d
  EndSubSection
EndSection
"""


class Display:
    """A private X screen with openbox managing it: Xvfb, or Xorg with the dummy driver when monitors are given.

    monitors: Monitor(width, height, x, y, primary) each, in root-window pixels, exactly one of them primary; the
    screen is then the smallest rectangle from (0, 0) that holds them all, and width and height are ignored."""

    def __init__(self, width=1024, height=768, depth=24, wm=True, monitors=None):
        if monitors:
            if [m.primary for m in monitors].count(True) != 1:
                raise ValueError("exactly one monitor must be primary: %r" % (monitors,))
            width = max(m.x + m.width for m in monitors)
            height = max(m.y + m.height for m in monitors)
        self.width, self.height, self.depth = width, height, depth
        self.monitors = list(monitors) if monitors else [Monitor(width, height, 0, 0, True)]
        self.xorg = bool(monitors)
        self.wm = wm
        self.number = None
        self.xvfb = None  # the X server, Xvfb or Xorg
        self.openbox = None
        self._dir = None
        self.start_seconds = None
        self.shown = None  # what paint_picture() left on the screen, for callers that keep it here

    @property
    def primary(self):
        """The primary monitor (for Xvfb, the whole screen)."""
        return next(m for m in self.monitors if m.primary)

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

    def _server_command(self):
        if not self.xorg:
            return ["Xvfb", self.name, "-screen", "0", "%dx%dx%d" % (self.width, self.height, self.depth),
                    "-nolisten", "tcp", "-noreset"]
        # -sharevts: the console's virtual terminals are left as they are (no switch, no graphics mode).
        return ["Xorg", self.name, "-config", os.path.join(self._dir, "xorg.conf"), "-logfile",
                os.path.join(self._dir, "xorg-%d.log" % self.number), "-noreset", "-nolisten", "tcp", "-sharevts",
                "-novtswitch"]

    def _write_xorg_config(self):
        if os.geteuid() != 0:
            raise RuntimeError("a display with several monitors is Xorg with a configuration of its own, which "
                               "Xorg takes only from root")
        # VideoRam in KiB: the framebuffer at 4 bytes a pixel, and as much again.
        videoram = (self.width * self.height * 4 // 1024 + 1) * 2
        with open(os.path.join(self._dir, "xorg.conf"), "w") as f:
            f.write(XORG_CONF % {"videoram": videoram, "depth": self.depth, "width": self.width,
                                 "height": self.height})

    def _lay_out_monitors(self, timeout):
        """Gives each monitor an output (the primary DUMMY0, the others DUMMY1, ...) with a mode of its size, in one
        xrandr call, since xrandr moves an output set on its own back to the origin; waits until RandR reports it."""
        outputs = sorted(self.monitors, key=lambda m: not m.primary)
        layout = ["xrandr", "--fb", "%dx%d" % (self.width, self.height)]
        for i, m in enumerate(outputs):
            mode = "frostpane-%dx%d" % (m.width, m.height)
            # A mode of exactly this size at about 60 Hz; blanking only as long as the driver needs.
            htotal, vtotal = m.width + 32, m.height + 4
            clock = "%.3f" % (htotal * vtotal * 60 / 1e6)
            if mode not in self.x("xrandr").stdout:
                self.x("xrandr", "--newmode", mode, clock, str(m.width), str(m.width + 8), str(m.width + 16),
                       str(htotal), str(m.height), str(m.height + 1), str(m.height + 2), str(vtotal))
            output = "DUMMY%d" % i
            self.x("xrandr", "--addmode", output, mode)
            layout += ["--output", output, "--mode", mode, "--pos", "%dx%d" % (m.x, m.y)]
            if m.primary:
                layout.append("--primary")
        self.x(*layout)
        want = sorted("%d/%dx%d/%d+%d+%d%s" % (m.width, 0, m.height, 0, m.x, m.y, "*" if m.primary else "")
                      for m in self.monitors)

        def laid_out():
            listed = self.x("xrandr", "--listmonitors").stdout
            seen = sorted(re.sub(r"/\d+", "/0", g[1]) + ("*" if g[0] else "")
                          for g in re.findall(r"^\s*\d+: \+(\*?)\S+ (\S+)", listed, re.M))
            return seen == want
        poll(laid_out, timeout, "the monitors %r on %s" % (self.monitors, self.name))

    def start(self, timeout=20):
        started = time.monotonic()
        self._dir = tempfile.mkdtemp(prefix="frostpane-x-")
        if self.xorg:
            self._write_xorg_config()
        server = "Xorg" if self.xorg else "Xvfb"
        candidate = 200 + random.SystemRandom().randrange(0, 500)
        for _attempt in range(50):
            while os.path.exists("/tmp/.X%d-lock" % candidate) or os.path.exists("/tmp/.X11-unix/X%d" % candidate):
                candidate += 1
            self.number = candidate
            log = open(os.path.join(self._dir, "server.log"), "wb")
            self.xvfb = subprocess.Popen(
                self._server_command(), stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            )
            log.close()
            try:
                poll(lambda: self.xvfb.poll() is not None or self._answers(), timeout, server + " on " + self.name)
            except TimeoutError:
                self.stop()
                raise
            if self.xvfb.poll() is None:
                break
            if self.xorg:
                with open(os.path.join(self._dir, "server.log"), errors="replace") as f:
                    said = f.read()
                if "already active" not in said:
                    self.stop()
                    raise RuntimeError("Xorg ended at start on %s: %s" % (self.name, said[-2000:]))
            # Another user took this number between the check and the start: try the next one.
            candidate += 1
        else:
            self.stop()
            raise RuntimeError("no free X display number found")
        if self.xorg:
            try:
                self._lay_out_monitors(timeout)
            except BaseException:
                self.stop()
                raise
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
        stop_process(self.openbox)
        stop_process(self.xvfb)
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
        default at depths above 8, where every window shares the root's true-colour visual. via="xwd" dumps the
        root (xwd -root); this is the default at depth 8. Measured there: the dump carries the display's default
        colour map and decodes every pixel through it, also where a Wine window with a colour map of its own is
        shown, so a Wine window's colours as Wine means them are read with `xwd -id` on that window. (At depth 16
        with Wine windows on the screen xwd leaves channel values unscaled, which is why it is not the default.)
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
        """X window ids matching all given criteria; name and cls are exact, case-sensitive texts. pid may be the
        process a Wine command started (for Wine 10 that is bwrap, whose child is the program)."""
        if pid is not None:
            found = []
            for one in program_pids(pid):
                found += [w for w in self._windows(name, cls, one, visible) if w not in found]
            return found
        return self._windows(name, cls, None, visible)

    def _windows(self, name, cls, pid, visible):
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
