// DesignFloor: the platform work that any program showing a frozen picture this way has to do, and
// nothing else, in one straight line: copy the screen into a compatible bitmap, read its pixels into
// one buffer, write them as a BMP file with one call, record the file's path in the per-user registry
// and read it back, load that file with the platform's loader, show a borderless dialog maximised, and
// draw the loaded bitmap once when a 100 ms timer fires; and make the locale's date text a capture's
// name is built from, which brings in the automation library. scripts/bench launches it beside
// Frostpane.exe, in pairs, so that what Frostpane costs beyond this is its own. A key or a click
// closes it; the file and the registry key are removed once the window has gone.
#include <windows.h>

#include <oleauto.h>

namespace {

const UINT_PTR kDrawTimerId = 1;
const UINT kDrawDelayMs = 100;

HBITMAP g_hLoaded = nullptr;

INT_PTR CALLBACK FloorDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM /*lParam*/)
{
	switch (uMsg) {
	case WM_INITDIALOG:
		::ShowWindow(hDlg, SW_MAXIMIZE);
		::SetTimer(hDlg, kDrawTimerId, kDrawDelayMs, nullptr);
		return TRUE;
	case WM_TIMER: {
		::KillTimer(hDlg, wParam);
		BITMAP bm = {};
		if (g_hLoaded && ::GetObjectA(g_hLoaded, sizeof(bm), &bm)) {
			HDC hDC = ::GetDC(hDlg);
			HDC hMem = ::CreateCompatibleDC(hDC);
			HGDIOBJ hOld = ::SelectObject(hMem, g_hLoaded);
			::BitBlt(hDC, 0, 0, bm.bmWidth, bm.bmHeight, hMem, 0, 0, SRCCOPY);
			::SelectObject(hMem, hOld);
			::DeleteDC(hMem);
			::ReleaseDC(hDlg, hDC);
		}
		return TRUE;
	}
	case WM_KEYDOWN:
	case WM_LBUTTONDOWN:
	case WM_RBUTTONDOWN:
		::PostQuitMessage(0);
		return TRUE;
	}
	return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/, int /*nCmdShow*/)
{
	HDC hScreen = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
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
	const DWORD dwFile = dwOffset + dwImage;
	auto pFile =
		static_cast<LPBYTE>(::VirtualAlloc(nullptr, dwFile, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
	if (!pFile)
		return 1;
	auto pFileHeader = reinterpret_cast<BITMAPFILEHEADER*>(pFile);
	pFileHeader->bfType = 0x4D42;
	pFileHeader->bfSize = dwFile;
	pFileHeader->bfOffBits = dwOffset;
	auto pInfo = reinterpret_cast<LPBITMAPINFO>(pFile + sizeof(BITMAPFILEHEADER));
	pInfo->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
	pInfo->bmiHeader.biWidth = nWidth;
	pInfo->bmiHeader.biHeight = nHeight;
	pInfo->bmiHeader.biPlanes = 1;
	pInfo->bmiHeader.biBitCount = wBits;
	pInfo->bmiHeader.biCompression = BI_RGB;
	pInfo->bmiHeader.biSizeImage = dwImage;
	pInfo->bmiHeader.biClrUsed = dwColors;
	::GetDIBits(hScreen, hBitmap, 0, static_cast<UINT>(nHeight), pFile + dwOffset, pInfo, DIB_RGB_COLORS);

	// The date text is made, as the capture's name needs it, but not used: the file's name is fixed,
	// so that the bench knows it.
	SYSTEMTIME now;
	::GetLocalTime(&now);
	DATE date = 0;
	BSTR bstrDate = nullptr;
	if (::SystemTimeToVariantTime(&now, &date) &&
		SUCCEEDED(::VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &bstrDate)))
		::SysFreeString(bstrDate);
	char szPath[MAX_PATH + 32];
	const DWORD dwTemp = ::GetTempPathA(MAX_PATH, szPath);
	if (dwTemp == 0 || dwTemp >= MAX_PATH)
		return 1;
	::lstrcatA(szPath, "DesignFloor.bmp");
	HANDLE hFile =
		::CreateFileA(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	DWORD dwWritten = 0;
	::WriteFile(hFile, pFile, dwFile, &dwWritten, nullptr);
	::CloseHandle(hFile);

	// Nothing of the capture is held while the picture shows.
	::VirtualFree(pFile, 0, MEM_RELEASE);
	::SelectObject(hMem, hOld);
	::DeleteObject(hBitmap);
	::DeleteDC(hMem);
	::DeleteDC(hScreen);

	const char kKey[] = "Software\\Frostpane Design Floor";
	HKEY hKey = nullptr;
	char szRecorded[MAX_PATH + 32] = "";
	DWORD dwRecorded = sizeof(szRecorded) - 1;
	if (::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &hKey,
			nullptr) == ERROR_SUCCESS) {
		::RegSetValueExA(
			hKey, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(szPath), ::lstrlenA(szPath) + 1);
		::RegQueryValueExA(hKey, "Path", nullptr, nullptr, reinterpret_cast<LPBYTE>(szRecorded), &dwRecorded);
		::RegCloseKey(hKey);
	}

	g_hLoaded = static_cast<HBITMAP>(::LoadImageA(nullptr, szRecorded, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));

	// Borderless and on top, like the cover window; with no controls and no font of its own.
	struct {
		DLGTEMPLATE dialog;
		WORD wMenu, wClass, wTitle;
	} dialog = {{WS_POPUP | WS_VISIBLE | DS_SYSMODAL | DS_SETFOREGROUND, WS_EX_APPWINDOW, 0, 0, 0, 320, 201},
		0, 0, 0};
	// Modeless, with a loop of its own, as the program's class library runs its dialogs.
	HWND hDlg = ::CreateDialogIndirectParamA(hInstance, &dialog.dialog, nullptr, FloorDlgProc, 0);
	MSG msg;
	while (hDlg && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
		::TranslateMessage(&msg);
		::DispatchMessageA(&msg);
	}
	if (hDlg)
		::DestroyWindow(hDlg);

	if (g_hLoaded)
		::DeleteObject(g_hLoaded);
	::DeleteFileA(szPath);
	::RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
	return 0;
}
