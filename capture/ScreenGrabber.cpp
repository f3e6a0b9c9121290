// CScreenGrabber: the screen copy, the capture folder and file, and the BMP writing.
#include "ScreenGrabber.h"

#include "BmpFormat.h"
#include "CaptureNames.h"
#include "afxdisp.h"
#include "afxwin.h"

#include <cstring>

namespace {

void ReportError(LPCTSTR pszStep) { ::MessageBoxA(nullptr, pszStep, "Error", MB_OK); }

// One write call; a write that stores fewer bytes than asked for has failed too.
bool WriteBlock(HANDLE hFile, const void* pData, DWORD dwLength)
{
	DWORD dwWritten = 0;
	return ::WriteFile(hFile, pData, dwLength, &dwWritten, nullptr) && dwWritten == dwLength;
}

// Gives the written file the capture's name. Another run's cover window may be reading an earlier
// capture of that name (same second) for a moment; while it does, the name cannot be replaced.
bool ReplaceWithFile(LPCTSTR pszPartPath, LPCTSTR pszPath)
{
	const int kTries = 20;
	const DWORD kPauseMs = 50;
	for (int nTry = 1;; ++nTry) {
		if (::MoveFileExA(pszPartPath, pszPath, MOVEFILE_REPLACE_EXISTING))
			return true;
		const DWORD dwError = ::GetLastError();
		if (nTry == kTries || (dwError != ERROR_SHARING_VIOLATION && dwError != ERROR_ACCESS_DENIED))
			return false;
		::Sleep(kPauseMs);
	}
}

// The ANSI spelling of a wide path, only where every character converts as itself: never a best
// fit (L for Ł) nor the default character. A UTF-8 code page spells every path and takes neither
// the flag nor the question.
bool SpellInAnsi(LPCWSTR pwszPath, char* pszPath, int nSize)
{
	const bool bUtf8 = ::GetACP() == CP_UTF8;
	BOOL bDefaulted = FALSE;
	return ::WideCharToMultiByte(CP_ACP, bUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, pwszPath, -1, pszPath, nSize,
			   nullptr, bUtf8 ? nullptr : &bDefaulted) > 0 &&
		   !bDefaulted;
}

// The temporary directory, ending in a backslash, as the ANSI code page spells it; false where it
// cannot be had or does not fit in nSize bytes. The ANSI call would answer the code page's best fit
// of a name it cannot spell: C:\users\Lukasz\Temp\ for Łukasz, a folder that does not exist or is
// another user's. There the folder's 8.3 short path is taken, which spells in any code page where
// the volume keeps short names.
bool GetTempPathInAnsi(char* pszTempDir, DWORD nSize)
{
	WCHAR wszLong[MAX_PATH + 1];
	const DWORD dwLength = ::GetTempPathW(MAX_PATH + 1, wszLong);
	if (dwLength == 0 || dwLength > MAX_PATH)
		return false;
	// Up to three bytes a character in UTF-8; the length is checked once the spelling is known.
	char szPath[3 * (MAX_PATH + 1)];
	if (!SpellInAnsi(wszLong, szPath, sizeof(szPath))) {
		WCHAR wszShort[MAX_PATH + 1];
		const DWORD dwShort = ::GetShortPathNameW(wszLong, wszShort, MAX_PATH + 1);
		if (dwShort == 0 || dwShort > MAX_PATH || !SpellInAnsi(wszShort, szPath, sizeof(szPath)))
			return false;
	}
	const size_t nLength = std::strlen(szPath);
	if (nLength >= nSize)
		return false;
	std::memcpy(pszTempDir, szPath, nLength + 1);
	return true;
}

} // namespace

CString CScreenGrabber::Capture()
{
	m_strFilePath.Empty();

	// The screen's context, whose origin is the primary monitor's top-left on Windows and under Wine alike.
	// Wine gives a context made for the display device (CreateDCA "DISPLAY") its origin at the top-left of
	// the whole desktop instead, which with a monitor left of or above the primary is not the primary's.
	CClientDC screenDC(nullptr);
	CDC memDC;
	memDC.Attach(::CreateCompatibleDC(screenDC));

	int nHeight = screenDC.GetDeviceCaps(VERTRES);
	int nWidth = screenDC.GetDeviceCaps(HORZRES);

	CBitmap bitmap;
	if (!bitmap.Attach(::CreateCompatibleBitmap(screenDC, nWidth, nHeight))) {
		ReportError("hbmScreen");
		return m_strFilePath;
	}
	// Ends before the bitmap does: the bitmap can only be deleted once it has left the memory context.
	const CSelectObject selection(&memDC, &bitmap);
	if (!selection) {
		ReportError("Compatible Bitmap Selection");
		return m_strFilePath;
	}

	nHeight = screenDC.GetDeviceCaps(VERTRES);
	nWidth = screenDC.GetDeviceCaps(HORZRES);
	if (!memDC.BitBlt(0, 0, nWidth, nHeight, &screenDC, 0, 0, SRCCOPY))
		ReportError("Screen to Compat Blt Failed");

	const LPBITMAPINFO pbi = CreateBitmapInfo(bitmap);
	const CLocalBlock info(pbi);
	if (pbi) {
		MakeCaptureFileName();
		if (!m_strFilePath.IsEmpty())
			WriteBmpFile(m_strFilePath, pbi, bitmap, screenDC);
	}
	return m_strFilePath;
}

void CScreenGrabber::MakeCaptureFolder()
{
	char szTempDir[260];
	if (!GetTempPathInAnsi(szTempDir, sizeof(szTempDir))) {
		m_strFolder.Empty();
		ReportError("GetTempPath Error");
		return;
	}
	m_strFolder = MakeCaptureFolderPath(szTempDir);
	// Fails harmlessly when the folder exists; any other failure shows when the file is made.
	::CreateDirectoryA(m_strFolder, nullptr);
}

void CScreenGrabber::MakeCaptureFileName()
{
	const CString strStamp = COleDateTime::GetCurrentTime().Format(0, LANG_USER_DEFAULT);
	const CString strTitle = MakeCaptureFileTitle(strStamp);
	MakeCaptureFolder();
	if (m_strFolder.IsEmpty())
		m_strFilePath.Empty();
	else
		m_strFilePath = MakeCaptureFilePath(m_strFolder, strTitle);
}

LPBITMAPINFO CScreenGrabber::CreateBitmapInfo(HBITMAP hBitmap)
{
	BITMAP bm;
	if (!::GetObjectA(hBitmap, sizeof(BITMAP), &bm)) {
		ReportError("error");
		return nullptr;
	}
	const WORD wClass = DepthClass(bm.bmPlanes, bm.bmBitsPixel);
	auto pbi = static_cast<LPBITMAPINFO>(::LocalAlloc(LPTR, InfoBlockSize(wClass)));
	if (!pbi) {
		ReportError("LocalAlloc Error");
		return nullptr;
	}
	pbi->bmiHeader = MakeInfoHeader(bm.bmWidth, bm.bmHeight, bm.bmPlanes, bm.bmBitsPixel);
	return pbi;
}

void CScreenGrabber::WriteBmpFile(CString strPath, LPBITMAPINFO pbi, HBITMAP hBitmap, HDC hDC)
{
	BITMAPINFOHEADER& header = pbi->bmiHeader;
	const DWORD dwBufferSize = header.biSizeImage;
	// Zero-filled, so rows a failed read leaves behind are black. A size of 0 is an image too large
	// to describe, refused as a buffer that cannot be had (a block of 0 bytes could be).
	const CGlobalBlock buffer(
		dwBufferSize ? ::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, dwBufferSize) : nullptr);
	if (!buffer) {
		AfxMessageBox("GlobalAlloc Error", MB_OK);
		return;
	}

	if (!::GetDIBits(hDC, hBitmap, 0, LOWORD(header.biHeight), buffer, pbi, DIB_RGB_COLORS))
		AfxMessageBox("GetDIBits Error", MB_OK);

	// The file is written under a name of this process's own and takes the capture's name only when
	// it is complete: a failed write never leaves a truncated capture nor spoils one of the same name,
	// and two runs in the same second never write into one file. That name, in the same folder, is
	// at most 15 characters, shorter than any capture's, so its path fits wherever the capture's does.
	const int nFolderLength = strPath.ReverseFind('\\') + 1;
	CString strPartPath;
	strPartPath.Format("%.*s%lu.part", nFolderLength, static_cast<LPCTSTR>(strPath), ::GetCurrentProcessId());
	bool bComplete = true;
	auto report = [&bComplete](bool bSucceeded, LPCTSTR pszMessage) {
		if (!bSucceeded) {
			AfxMessageBox(pszMessage, MB_OK);
			bComplete = false;
		}
	};

	CFileHandle file(::CreateFileA(strPartPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
		FILE_ATTRIBUTE_NORMAL, nullptr));
	const bool bCreated = file != INVALID_HANDLE_VALUE;
	report(bCreated, "CreateFile Error");

	// The read may have changed the header; the file describes exactly what is written, and
	// nothing is read beyond the description block or the pixel buffer.
	const SIZE_T nBlockSize = ::LocalSize(pbi);
	const DWORD dwTableCapacity =
		nBlockSize > sizeof(BITMAPINFOHEADER)
			? static_cast<DWORD>((nBlockSize - sizeof(BITMAPINFOHEADER)) / sizeof(RGBQUAD))
			: 0;
	const BmpFileLayout layout = ComputeBmpFileLayout(header, dwTableCapacity, dwBufferSize);
	header.biClrUsed = layout.dwClrUsed;
	header.biSizeImage = layout.dwSizeImage;

	// Without a file the writes and the close still run, so each step the platform refuses shows its box.
	report(WriteBlock(file, &layout.fileHeader, sizeof(layout.fileHeader)), "WriteFile 1 Error");
	report(WriteBlock(file, pbi, layout.dwInfoBytes), "WriteFile 2 Error");
	report(WriteBlock(file, buffer, layout.dwPixelBytes), "WriteFile 3 Error");
	// Closed even when it was never opened, so that the platform's answer shows as the other steps' do.
	report(::CloseHandle(file.Detach()) != FALSE, "CloseHandle Error");

	if (bComplete)
		report(ReplaceWithFile(strPartPath, strPath), "MoveFile Error");
	if (!bComplete && bCreated)
		::DeleteFileA(strPartPath);
}
