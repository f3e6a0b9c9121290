"""The program's own texts and names, as a user and the registry see them: one place for every test and script."""

EXE = "Frostpane.exe"
TITLE = "Frostpane by Tapwright"
ABOUT_CAPTION = "About " + TITLE
SETTINGS = r"HKCU\Software\Tapwright\Frostpane by Tapwright\Settings"
FOLDER = "Images-Captured-By-Tapwright"
NOTICE = ("This Software Captures Screenshot of Primary Monitor and Displays it in a Window Covering Primary Monitor."
          "\n\nIn Order to Close it, just press any Key or Click with Mouse on the Frostpane.")
