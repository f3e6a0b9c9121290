// The floor capture, in one straight line.
#include "FloorCapture.h"

void FloorCapture(LPCSTR pszPath, DWORD dwMinBytes)
{
	// The screen's own context, as the program's: its origin is the primary monitor's top-left.
	HDC hScreen = ::GetDC(nullptr);
	HDC hMem = ::CreateCompatibleDC(hScreen);
	const int nWidth = ::GetDeviceCaps(hScreen, HORZRES);
	const int nHeight = ::GetDeviceCaps(hScreen, VERTRES);
	const WORD wBits =
		static_cast<WORD>(::GetDeviceCaps(hScreen, BITSPIXEL) * ::GetDeviceCaps(hScreen, PLANES));
	HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, nWidth, nHeight);
	HGDIOBJ hOld = ::SelectObject(hMem, hBitmap);
	::BitBlt(hMem, 0, 0, nWidth, nHeight, hScreen, 0, 0, SRCCOPY);

	// The whole file in one buffer: file header, info header, colour table (8 bits or fewer), rows.
	const DWORD dwColors = wBits <= 8 ? DWORD{1} << wBits : 0;
	const DWORD dwOffset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + dwColors * sizeof(RGBQUAD);
	const DWORD dwImage = static_cast<DWORD>((nWidth * wBits + 31) / 32 * 4) * static_cast<DWORD>(nHeight);
	const DWORD dwFile = dwOffset + dwImage > dwMinBytes ? dwOffset + dwImage : dwMinBytes;
	auto pFile =
		static_cast<LPBYTE>(::VirtualAlloc(nullptr, dwFile, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
	if (pFile) {
		*reinterpret_cast<BITMAPFILEHEADER*>(pFile) = {0x4D42, dwFile, 0, 0, dwOffset};
		auto pInfo = reinterpret_cast<LPBITMAPINFO>(pFile + sizeof(BITMAPFILEHEADER));
		pInfo->bmiHeader = {
			sizeof(BITMAPINFOHEADER), nWidth, nHeight, 1, wBits, BI_RGB, dwImage, 0, 0, dwColors, 0};
		::GetDIBits(hScreen, hBitmap, 0, static_cast<UINT>(nHeight), pFile + dwOffset, pInfo, DIB_RGB_COLORS);
		HANDLE hFile =
			::CreateFileA(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
		DWORD dwWritten = 0;
		::WriteFile(hFile, pFile, dwFile, &dwWritten, nullptr);
		::CloseHandle(hFile);
		::VirtualFree(pFile, 0, MEM_RELEASE);
	}
	::SelectObject(hMem, hOld);
	::DeleteObject(hBitmap);
	::DeleteDC(hMem);
	::ReleaseDC(nullptr, hScreen);
}
