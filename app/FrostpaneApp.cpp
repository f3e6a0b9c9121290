// CFrostpaneApp: the start-up sequence, the first-run notice and the recorded capture path.
#include "FrostpaneApp.h"

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

} // namespace

BEGIN_MESSAGE_MAP(CFrostpaneApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

// The one application object; WinMain finds it through AfxGetApp.
CFrostpaneApp theApp;

BOOL CFrostpaneApp::InitInstance()
{
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
