"""The program's own texts and names, as a user and the registry see them: one place for every test and script.
The version and the publisher are read from the sources the version block is built from."""

import re
from pathlib import Path

_RES = Path(__file__).resolve().parents[1] / "res"

EXE = "Frostpane.exe"
TITLE = "Frostpane by Tapwright"
ABOUT_CAPTION = "About " + TITLE
SETTINGS = r"HKCU\Software\Tapwright\Frostpane by Tapwright\Settings"
FOLDER = "Images-Captured-By-Tapwright"
NOTICE = ("This Software Captures Screenshot of Primary Monitor and Displays it in a Window Covering Primary Monitor."
          "\n\nIn Order to Close it, just press any Key or Click with Mouse on the Frostpane.")
# The installers': one upgrade code for every version and both flavours, and the key of the Start-menu shortcut,
# Ctrl+Alt+F11 (VK_F11 in the low byte, HOTKEYF_CONTROL | HOTKEYF_ALT in the high one).
UPGRADE_CODE = "{814C7DF3-C09C-4E88-9D11-0AC14BCDA471}"
SHORTCUT_KEY = 0x067A
# "1.0.0.1", as the version block and the packages give it, and the version block's CompanyName.
VERSION = ".".join(re.search(r"^#define FROSTPANE_VERSION ([0-9, ]+)$", (_RES / "version.h").read_text(), re.M)
                   .group(1).replace(" ", "").split(","))
PUBLISHER = re.search(r'VALUE "CompanyName", "([^"]*)"', (_RES / "Frostpane.rc").read_text()).group(1)
