// CFrostpaneApp: the start-up sequence, the first-run notice and the recorded capture path.
#include "FrostpaneApp.h"

#include <shellscalingapi.h>

#include "FrostpaneDlg.h"
#include "Settings.h"
#include "afxdisp.h"

namespace {

const char kNotice[] =
	"This Software Captures Screenshot of Primary Monitor and Displays it in a Window Covering "
	"Primary Monitor.\n\nIn Order to Close it, just press any Key or Click with Mouse on the Frostpane.";

// How long the desktop gets to repaint where the notice stood, before it is photographed.
const DWORD kSettleAfterNoticeMs = 250;

// The notice's window is gone when the box returns, but what lay beneath it is repainted by
// other processes (the window manager, other programs) a moment later. Without this pause the
// capture can show the notice the user has just closed.
void LetScreenSettle(DWORD dwMilliseconds)
{
	const DWORD dwStart = ::GetTickCount();
	for (DWORD dwElapsed = 0; dwElapsed < dwMilliseconds; dwElapsed = ::GetTickCount() - dwStart) {
		::MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMilliseconds - dwElapsed, QS_ALLINPUT);
		MSG msg;
		while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
			::DispatchMessageA(&msg);
	}
}

// The export pszName of hModule, or null: looked up at run time, so a Windows without it still starts the
// program. The cast goes through void (*)(), which converts to any function pointer type without a mismatch.
template <class TPfn> TPfn GetProc(HMODULE hModule, LPCSTR pszName)
{
	return hModule ? reinterpret_cast<TPfn>(reinterpret_cast<void (*)()>(::GetProcAddress(hModule, pszName)))
				   : nullptr;
}

// Declares the best DPI awareness this Windows takes: per monitor (version 2 from Windows 10 1703, else
// shcore's from 8.1), else system-wide. Each call that fails hands on to the next: 1607 has the context call
// but refuses version 2. A refusal with access denied means a manifest or the system has declared it already.
void DeclareDpiAware()
{
	HMODULE hUser32 = ::GetModuleHandleA("user32.dll");
	if (auto pfnContext =
			GetProc<decltype(&::SetProcessDpiAwarenessContext)>(hUser32, "SetProcessDpiAwarenessContext")) {
		if (pfnContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || ::GetLastError() == ERROR_ACCESS_DENIED)
			return;
	}
	// From the system folder only: a plain load would run a shcore.dll planted beside the exe on Windows 7,
	// which has none of its own. Vista and 7 without KB2533623 refuse the flag, and the next call follows.
	if (auto pfnShcore = GetProc<decltype(&::SetProcessDpiAwareness)>(
			::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
			"SetProcessDpiAwareness")) {
		const HRESULT hr = pfnShcore(PROCESS_PER_MONITOR_DPI_AWARE);
		if (SUCCEEDED(hr) || hr == E_ACCESSDENIED)
			return;
	}
	if (auto pfnSystem = GetProc<decltype(&::SetProcessDPIAware)>(hUser32, "SetProcessDPIAware"))
		pfnSystem();
}

} // namespace

BEGIN_MESSAGE_MAP(CFrostpaneApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

// The one application object; WinMain finds it through AfxGetApp.
CFrostpaneApp theApp;

BOOL CFrostpaneApp::InitInstance()
{
	// Before any window or DC: unaware of DPI, a scaled display reads smaller and the capture is cropped.
	DeclareDpiAware();
	AfxEnableControlContainer();
	Enable3dControls();
	SetRegistryKey(kVendorName);

	if (GetProfileInt(kSettingsSection, kMessageDisplayedEntry, 0) == 0) {
		AfxMessageBox(kNotice, MB_OK);
		WriteProfileInt(kSettingsSection, kMessageDisplayedEntry, 1);
		LetScreenSettle(kSettleAfterNoticeMs);
	}

	m_strCapturePath = m_grabber.Capture();
	WriteProfileString(kSettingsSection, kScreenShotFilePathEntry, m_strCapturePath);

	CFrostpaneDlg dlg;
	m_pMainWnd = &dlg;
	dlg.DoModal();
	m_pMainWnd = nullptr;
	return FALSE;
}
