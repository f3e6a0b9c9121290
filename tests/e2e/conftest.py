"""Fixtures for the end-to-end tests: private X displays, Wine prefixes and the executables under test.

The flavour under test is FROSTPANE_FLAVOUR (x86 or x64; default x86 where the host runs 32-bit code, else x64):
it picks the build folder the executables come from and the Wine the prefixes are made for. FROSTPANE_WINE (8,
Debian 12's, the default, or 10, from the root scripts/setup makes) picks which Wine that is.

- frostpane_exe, winprobe_exe: paths from FROSTPANE_EXE and WINPROBE_EXE (defaults under build/<flavour>); a
  missing executable fails the test with the path it looked at, never skips it.
- wine_template (session): a prefix booted once, copied for each test: the one FROSTPANE_PREFIX_TEMPLATE names
  where it is of this flavour and Wine (scripts/test boots one a layer, for its Win32 displays too), else its own.
- prefix: a fresh copy of the template for one test, killed and deleted afterwards. Give it its display with
  `prefix.display = desk` (or pass display= to run/call/probe). Its Wine session starts with the first wine
  command and ends a few seconds after the last program; prefix.start_session() keeps one up until the end.
- desktop: a factory; desktop(width=1024, height=768, depth=24, picture=True, monitors=None) starts Xvfb with
  openbox (with monitors, a list of harness.xdisplay.Monitor, Xorg with one output per monitor), paints picture 0
  on the whole root window unless picture is False, and keeps what the screen then shows in `.shown`
  (width, height, rgb). Every display it started is stopped after the test.
- probe: probe(prefix, *args, timeout=60) runs winprobe in that prefix and returns (exit status, facts dict).

FROSTPANE_KEEP=1 keeps each test's prefix folder for a look after a failure.

Marked wine10: the cases that also run under Wine 10, those that see what differs there (the notice, the file, the
settings and the temporary folder; users of other languages and a share; 16 bits; the window over the screen and
its repaint; the About box; scaled displays; the installers), not those that check the program's own logic once
more (name formats, closing inputs, faults), which run under Wine 8 alone.
"""

import os
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO))

from harness.wine import flavour_from_env, wine_from_env  # noqa: E402
from harness.wineprefix import WinePrefix  # noqa: E402
from harness.winprobe import Probe  # noqa: E402
from harness.xdisplay import Display  # noqa: E402

FLAVOUR = flavour_from_env()
WINE = wine_from_env()


def pytest_configure(config):
    config.addinivalue_line("markers", "wine10: runs under Wine 10 as well as Wine 8, as it sees what differs there "
                            "(scripts/test runs -m wine10 with Wine 10)")


def _executable(variable, default):
    path = Path(os.environ.get(variable) or REPO / "build" / FLAVOUR / default)
    if not path.is_file():
        pytest.fail("%s not found at %s: build it first (scripts/build %s) or point %s at it"
                    % (path.name, path, FLAVOUR, variable), pytrace=False)
    return path


@pytest.fixture(scope="session")
def frostpane_exe():
    return _executable("FROSTPANE_EXE", "Frostpane.exe")


@pytest.fixture(scope="session")
def winprobe_exe():
    return _executable("WINPROBE_EXE", "harness/tools/winprobe.exe")


@pytest.fixture(scope="session")
def wine_template(tmp_path_factory):
    given = WinePrefix.given_template(FLAVOUR, WINE)
    if given is not None:
        yield given
        return
    base = tmp_path_factory.mktemp("wine")
    with Display(640, 480, 24) as boot_display:
        template = WinePrefix.build(base / "template", boot_display, flavour=FLAVOUR, wine=WINE)
    template.display = None
    yield template
    template.remove(server_folder=True)


@pytest.fixture
def prefix(wine_template, tmp_path):
    fresh = wine_template.fresh(tmp_path / "prefix")
    yield fresh
    if os.environ.get("FROSTPANE_KEEP") == "1":
        fresh.kill()
    else:
        fresh.remove()


@pytest.fixture
def desktop():
    started = []

    def make(width=1024, height=768, depth=24, picture=True, monitors=None):
        display = Display(width, height, depth, monitors=monitors).start()
        started.append(display)
        display.shown = display.paint_picture() if picture else None
        return display

    yield make
    for display in reversed(started):
        display.stop()


@pytest.fixture
def probe(winprobe_exe):
    return Probe(winprobe_exe)
