// Resource identifiers of Frostpane.
#pragma once

#define IDM_ABOUTBOX 0x0010
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_FROSTPANE_DIALOG 102
#define IDR_MAINFRAME 128
