"""The harness that runs Frostpane as a user would, shared by the tests and the scripts.

- wine: the one place that starts Wine, knowing the flavour (x86 or x64), its loader and its prefix architecture.
- xdisplay: a private Xvfb display with openbox, pictures on it, screenshots, windows, keys and clicks.
- wineprefix: Wine prefixes booted once and copied per test; programs run in them; their registry read.
- winprobe: the probe (tools/winprobe.cpp) that reads and pokes windows from inside Wine.
- boxes: message boxes read and closed as a user does.
- pictures, bmp, pe: known pictures and their comparison, an independent BMP reader, a PE file reader.
- names: the program's texts, settings key and folder name.
- waiting: bounded polls.
`python3 -m harness --help` lists its commands (with-display, figures).
"""
