// The grabber's private steps and members, for the Win32 tests that drive them one by one.
#pragma once

#include "ScreenGrabber.h"

class CScreenGrabberTestAccess
{
public:
	static void MakeCaptureFileName(CScreenGrabber& grabber) { grabber.MakeCaptureFileName(); }
	static LPBITMAPINFO CreateBitmapInfo(CScreenGrabber& grabber, HBITMAP hBitmap)
	{
		return grabber.CreateBitmapInfo(hBitmap);
	}
	static void WriteBmpFile(
		CScreenGrabber& grabber, CString strPath, LPBITMAPINFO pbi, HBITMAP hBitmap, HDC hDC)
	{
		grabber.WriteBmpFile(strPath, pbi, hBitmap, hDC);
	}
	static const CString& Folder(const CScreenGrabber& grabber) { return grabber.m_strFolder; }
	static const CString& FilePath(const CScreenGrabber& grabber) { return grabber.m_strFilePath; }
};
