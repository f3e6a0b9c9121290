// DesignFloor: only the platform work a program showing a frozen picture this way has to do: the floor
// capture to a file, the locale's date text (which brings in the automation library), the file's path
// recorded in the registry and read back, the file loaded, a borderless dialog maximised, and the bitmap
// drawn once after a 100 ms timer. A key or a click closes it, and its file and key are removed.
#include "FloorCapture.h"

#include <oleauto.h>

namespace {

HBITMAP g_hLoaded = nullptr;

INT_PTR CALLBACK FloorDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM /*lParam*/)
{
	switch (uMsg) {
	case WM_INITDIALOG:
		::ShowWindow(hDlg, SW_MAXIMIZE);
		::SetTimer(hDlg, 1, 100, nullptr); // the 100 ms timer before the drawing
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
	char szPath[MAX_PATH + 32];
	if (::GetTempPathA(MAX_PATH, szPath) - 1 >= MAX_PATH - 1)
		return 1;
	::lstrcatA(szPath, "DesignFloor.bmp");
	FloorCapture(szPath);

	// The date text a capture is named from, unused: the file's name is fixed, so that the bench knows it.
	SYSTEMTIME now;
	::GetLocalTime(&now);
	DATE date = 0;
	BSTR bstrDate = nullptr;
	if (::SystemTimeToVariantTime(&now, &date) &&
		SUCCEEDED(::VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &bstrDate)))
		::SysFreeString(bstrDate);
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
	::DestroyWindow(hDlg);
	::DeleteObject(g_hLoaded);
	::DeleteFileA(szPath);
	::RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
	return 0;
}
