// CScreenGrabber: photographs the primary monitor into a BMP file in the capture folder.
#pragma once

#include <windows.h>

#include "CaptureObserver.h"
#include "String.h"

class CScreenGrabber
{
public:
	CScreenGrabber() = default;
	virtual ~CScreenGrabber() = default;

	// Captures the primary monitor to a new file and returns its full path; empty when the
	// capture ended before the file was named. Every failure is reported to the user.
	CString Capture();

	// Tells pObserver (not owned; null for none, the default) of each step of later captures.
	void SetObserver(ICaptureObserver* pObserver) { m_pObserver = pObserver; }

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

	void BeginStep(CaptureStep step) const
	{
		if (m_pObserver)
			m_pObserver->OnCaptureStep(step, false);
	}
	void EndStep(CaptureStep step) const
	{
		if (m_pObserver)
			m_pObserver->OnCaptureStep(step, true);
	}

	CString m_strFolder;
	CString m_strFilePath;
	ICaptureObserver* m_pObserver = nullptr;
};
