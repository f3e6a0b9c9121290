// The floor capture: the platform calls no capture can avoid, which both floors make (CaptureBench's, beside
// CScreenGrabber::Capture(), and DesignFloor.exe, beside Frostpane.exe).
#pragma once

#include <windows.h>

// Copies the screen into a bitmap of its own format (BitBlt), reads its pixels into one buffer laid out as
// a BMP file (GetDIBits) and writes that buffer to pszPath with one WriteFile of at least dwMinBytes.
void FloorCapture(LPCSTR pszPath, DWORD dwMinBytes = 0);
