"""winprobe's output read and its arguments written: the console tool (tools/winprobe.cpp) that runs under Wine in
the program's prefix to read and poke its windows."""


def parse(text):
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


def arg(text):
    """A text as winprobe takes it on its command line (it reads \\n, \\t and \\\\ as escapes)."""
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t").replace("\r", "\\r")


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
