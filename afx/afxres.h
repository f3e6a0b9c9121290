// Identifiers this layer reserves (the title string, the help command); for the resource script and code
// alike.
#pragma once

#include <winresrc.h>

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define AFX_IDS_APP_TITLE 0xE000
#define ID_HELP 0xE146
