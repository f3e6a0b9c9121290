"""The program's own texts and names, as a user and the registry see them: one place for every test and script."""

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
