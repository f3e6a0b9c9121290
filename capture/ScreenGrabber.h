// CScreenGrabber: photographs the primary monitor into a BMP file in the capture folder.
#pragma once

#include <windows.h>

#include "String.h"

class CScreenGrabber
{
public:
	virtual ~CScreenGrabber() = default;

	// Captures the primary monitor to a new file and returns its full path; empty when the
	// capture ended before the file was named. Every failure is reported to the user.
	CString Capture();

private:
	// The Win32 tests drive the steps one by one on bitmaps of their own.
	friend class CScreenGrabberTestAccess;

	// Sets m_strFolder and creates the folder; leaves m_strFolder empty when the temporary
	// directory cannot be had.
	void MakeCaptureFolder();
	// Names the file from the current time and sets m_strFilePath; empty without a folder.
	void MakeCaptureFileName();

	// The description block of hBitmap, owned by the caller (LocalFree); null when the bitmap
	// cannot be read or the block not allocated.
	LPBITMAPINFO CreateBitmapInfo(HBITMAP hBitmap);
	// Reads hBitmap's pixels through hDC and writes header, colour table and pixels to strPath.
	void WriteBmpFile(CString strPath, LPBITMAPINFO pbi, HBITMAP hBitmap, HDC hDC);

	CString m_strFolder;
	CString m_strFilePath;
};
