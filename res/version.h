// Frostpane's version: the one place the version block and the release packages take it from.
#pragma once

#define FROSTPANE_VERSION 1, 0, 0, 1
#define FROSTPANE_VERSION_TEXT "1, 0, 0, 1"
