// CFrostpaneApp: the start-up sequence, the first-run notice and the recorded capture path.
#include "FrostpaneApp.h"

#include "FrostpaneDlg.h"
#include "Settings.h"
#include "afxdisp.h"

namespace {

const char kNotice[] =
	"This Software Captures Screenshot of Primary Monitor and Displays it in a Window Covering "
	"Primary Monitor.\n\nIn Order to Close it, just press any Key or Click with Mouse on the Frostpane.";

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
	}

	m_strCapturePath = m_grabber.Capture();
	WriteProfileString(kSettingsSection, kScreenShotFilePathEntry, m_strCapturePath);

	CFrostpaneDlg dlg;
	m_pMainWnd = &dlg;
	dlg.DoModal();
	m_pMainWnd = nullptr;
	return FALSE;
}
