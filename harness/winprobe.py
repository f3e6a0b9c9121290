"""winprobe's output read and its arguments written: the console tool (tools/winprobe.cpp) that runs under Wine in
the program's prefix to read and poke its windows."""

from harness.names import EXE
from harness.waiting import poll


def parse(text):
    """winprobe's key=value lines as a dict, with its escapes (\\n \\r \\t \\\\ \\xNN) undone and its UTF-8 read."""
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
    return out.decode("utf-8", errors="replace")


def arg(text):
    """A text as winprobe takes it on its command line (it reads \\n, \\t and \\\\ as escapes)."""
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t").replace("\r", "\\r")


def dialog(caption, exe=EXE):
    """winprobe's arguments that pick exe's dialog with this caption (find, post, close)."""
    return ["--exe", exe, "--class", "#32770", arg(caption)]


# The cover window: the program's dialog without a caption.
COVER = dialog("")


def children(facts):
    """The child controls in winprobe find's facts, as a list of dicts (class, id, style, text, rect, ...)."""
    count = int(facts.get("children", "0"))
    children = []
    for i in range(count):
        prefix = "child%d." % i
        children.append({k[len(prefix):]: v for k, v in facts.items() if k.startswith(prefix)})
    return children


class Probe:
    """winprobe.exe of one build: probe(prefix, *args) runs it in that prefix; (exit status, facts)."""

    def __init__(self, exe):
        self.exe = exe

    def __call__(self, prefix, *args, timeout=60, display=None):
        return prefix.probe(self.exe, *args, display=display, timeout=timeout)


def wait_covering(probe, prefix, width, height, exe=EXE, timeout=10):
    """winprobe's facts of exe's untitled dialog (the cover window) once it covers the whole width x height screen.

    The window is found as soon as it exists; the window manager maximises it a moment later. AssertionError with
    the last rectangle seen if it does not cover the screen within timeout seconds."""
    want = "0,0,%d,%d" % (width, height)
    seen = {}

    def covering():
        rc, facts = probe(prefix, "find", "--timeout", "30000", *dialog("", exe))
        assert rc == 0, "no cover window of %s" % exe
        seen.update(facts)
        return facts["rect"] == want and facts
    try:
        return poll(covering, timeout, "the cover window to cover the screen", interval=0.1)
    except TimeoutError:
        raise AssertionError("the cover window is at %s, not %s, after %.0f s" % (seen["rect"], want, timeout)) from None
