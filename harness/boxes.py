"""Message boxes driven as a user drives them: read on the screen, then closed with a real key.

Every box this program shows has one text, one OK button and no owner; read() holds each box to that, so a box
that breaks it fails wherever boxes are driven. drive() answers every box of a run until its cover window is up.
"""

import collections
import re
import time

from harness import winprobe
from harness.names import EXE
from harness.waiting import poll

# A box as the user sees it: its caption, its one text and the icon it shows (None when it has none).
Box = collections.namedtuple("Box", "caption text icon")

_LIST_LINE = re.compile(r"^hwnd=(0x[0-9A-Fa-f]+) visible=(\d) class=(.*?) exe=(.*?) "
                        r"rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) title=(.*)$")


def windows(prefix, probe, exe=EXE):
    """The visible top-level windows of exe: [(hwnd, class, (l, t, r, b), title)], top first."""
    out = []
    for line in prefix.call(probe.exe, "list").stdout.split("\n"):
        m = _LIST_LINE.match(line)
        if m and m.group(2) == "1" and m.group(4).lower() == exe.lower():
            title = winprobe.parse("t=" + m.group(9))["t"]
            out.append((m.group(1), m.group(3), tuple(int(m.group(i)) for i in range(5, 9)), title))
    return out


def read(prefix, probe, caption, exe=EXE, timeout=30, facts=None):
    """(Box, winprobe's facts) of exe's box with this caption, once it is up and its icon painted.

    winprobe names an icon by the pixels it shows, and a box can be found before it has painted them; so the box
    is read again until each icon matches its candidate exactly (score 0), or the bound has passed. `facts`, when
    given, are a reading of that box just made, taken as the first.
    """
    deadline = time.monotonic() + timeout
    while True:
        if facts is None:
            rc, facts = probe(prefix, "find", "--timeout", str(int(timeout * 1000)), *winprobe.dialog(caption, exe))
            assert rc == 0, "no box titled %r appeared" % caption
        children = winprobe.children(facts)
        icons = [c for c in children if c.get("icon", "0x00000000") != "0x00000000"]
        if all(float(c.get("icon_match_score", "1")) == 0.0 for c in icons) or time.monotonic() > deadline:
            break
        facts = None
    texts = [c["text"] for c in children if c["class"] == "Static" and c["text"] and "icon" not in c]
    buttons = [(c["text"], c["id"]) for c in children if c["class"] == "Button"]
    # One OK button, in the platform's language (確定 under zh_TW).
    assert [i for _text, i in buttons] == ["1"], "box %r %r has buttons %r" % (caption, texts, buttons)
    assert facts["owner"] == "0x00000000", "box %r %r has an owner" % (caption, texts)
    assert len(texts) == 1 and len(icons) <= 1, "box %r: texts %r, icons %r" % (caption, texts, icons)
    return Box(caption, texts[0], icons[0]["icon_match"] if icons else None), facts


def forward(desk, prefix, probe, x_window, select, renew=False):
    """Activates an X window and waits until Wine has made the matching window its foreground window too.

    Only then is a key sure to reach it. With two programs on the screen the two can disagree: a window that asks
    for the foreground after the X focus went elsewhere (the cover window does, as it opens) takes Wine's
    foreground, while the X server still gives the focus to the window activated before, so activating that one
    again changes nothing. Activating another window first makes the window manager hand the focus over anew,
    and Wine follows."""
    def foreground():
        rc, facts = probe(prefix, "find", "--timeout", "0", *select)
        return rc == 0 and facts.get("foreground") == "1" and facts

    # The program's X windows carry its executable's name as their class.
    x_class = select[select.index("--exe") + 1].lower()

    def activate():
        if renew or desk.active_window() == x_window:
            others = [w for w in desk.windows(cls=x_class) if w != x_window]
            if others:
                desk.activate(others[0])
        desk.activate(x_window)
        return foreground()

    if not renew and desk.active_window() == x_window:
        facts = foreground()
        if facts:
            return facts
    return poll(activate, 20, "%r to be Wine's foreground window" % (select,), interval=0.1)


def type_until(desk, prefix, probe, x_window, select, keysym, done, what, attempts=3, forwarded=False):
    """Types keysym on x_window once Wine has it in the foreground (already so when `forwarded`), until done() (at
    most `attempts` times: with two programs on the screen a key can still be lost while Wine takes in a focus
    change)."""
    for attempt in range(attempts):
        if attempt or not forwarded:
            forward(desk, prefix, probe, x_window, select, renew=attempt > 0)
        desk.key(x_window, keysym)
        try:
            return poll(done, 5 if attempt + 1 < attempts else 20, what)
        except TimeoutError:
            if attempt + 1 == attempts:
                raise


def dismiss(desk, prefix, probe, caption, exe=EXE, key="Return"):
    """Reads exe's box with this caption (in front, so its icon shows) and closes it with a real key; its Box."""
    select = winprobe.dialog(caption, exe)
    x_window = desk.wait_window(caption)
    box, facts = read(prefix, probe, caption, exe, facts=forward(desk, prefix, probe, x_window, select))
    hwnd = facts["hwnd"]
    type_until(desk, prefix, probe, x_window, select, key,
               lambda: all(w[0] != hwnd for w in windows(prefix, probe, exe)),
               "box %r %r to close on %s" % (caption, box.text, key), forwarded=True)
    return box


def cover_window(desk, proc, timeout=30):
    """The X window of proc's cover window: the program's window with an empty title (its boxes share the X
    class, taken from the executable's name, but carry the application title)."""
    return poll(lambda: [w for w in desk.windows(cls=EXE.lower(), pid=proc.pid) if desk.window_name(w) == ""],
                timeout, "the cover window")[0]


def drive(desk, prefix, probe, procs, covers=1, timeout=90, exe=EXE):
    """Answers every box with Enter until `covers` cover windows (untitled dialogs) are up, or a run ends by itself.

    Returns (the boxes in the order they came, the cover windows' list entries, or None when a run ended before
    its cover window came up)."""
    boxes = []

    def answered():
        if any(p.poll() is not None for p in procs):
            return (None,)
        wins = windows(prefix, probe, exe)
        titled = [w for w in wins if w[3]]
        if titled:
            boxes.append(dismiss(desk, prefix, probe, titled[0][3], exe))
            return None
        up = [w for w in wins if w[1] == "#32770" and not w[3]]
        return len(up) >= covers and (up,)
    try:
        return boxes, poll(answered, timeout, "cover windows")[0]
    except TimeoutError:
        raise TimeoutError("%d cover window(s) not up after %d s; boxes so far %r" % (covers, timeout, boxes)) from None
