// CWinApp: the application object, its start-up state and the per-user profile in the registry.
#pragma once

#include "CmdTarget.h"
#include "String.h"

class CWnd;

class CWinApp : public CCmdTarget
{
public:
	// The application takes its name from the title string resource.
	CWinApp();
	~CWinApp() override;

	LPCTSTR m_pszAppName = nullptr;
	LPCTSTR m_pszRegistryKey = nullptr;
	LPCTSTR m_pszProfileName = nullptr;
	LPCTSTR m_pszHelpFilePath = nullptr;
	HINSTANCE m_hInstance = nullptr;
	CWnd* m_pMainWnd = nullptr;

	// Called once by WinMain. There is no message loop: the run ends when it returns, whatever it answers.
	virtual BOOL InitInstance();
	// Called when InitInstance has returned; answers the process's exit code.
	virtual int ExitInstance();

	// Dialogs are drawn three-dimensional by the platform itself; kept for callers that ask.
	BOOL Enable3dControls();
	// Sends the profile functions to HKEY_CURRENT_USER\Software\<key>\<application name>.
	void SetRegistryKey(LPCTSTR lpszRegistryKey);

	// A DWORD value, or nDefault when it is absent or not a DWORD.
	UINT GetProfileInt(LPCTSTR lpszSection, LPCTSTR lpszEntry, int nDefault);
	BOOL WriteProfileInt(LPCTSTR lpszSection, LPCTSTR lpszEntry, int nValue);
	// A string value, or lpszDefault when it is absent or not a string.
	CString GetProfileString(LPCTSTR lpszSection, LPCTSTR lpszEntry, LPCTSTR lpszDefault = nullptr);
	BOOL WriteProfileString(LPCTSTR lpszSection, LPCTSTR lpszEntry, LPCTSTR lpszValue);

	HICON LoadIcon(UINT nIDResource) const;

	// Sets the name, help path and instance from the module before InitInstance runs.
	void SetCurrentHandles(HINSTANCE hInstance);

	// The help command's handler, for an application whose message map routes ID_HELP to it.
	afx_msg void OnHelp();

private:
	// The open key HKCU\Software\<key>\<name>\<section>, or null; bCreate makes missing keys.
	HKEY GetSectionKey(LPCTSTR lpszSection, bool bCreate) const;
	// Stores a value in the section, which is made if missing; a REG_SZ value's size is taken from its text.
	BOOL SetSectionValue(
		LPCTSTR lpszSection, LPCTSTR lpszEntry, DWORD dwType, const void* pData, DWORD cbData);

	CString m_strAppName;
	CString m_strRegistryKey;
	CString m_strHelpFilePath;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
LPCTSTR AfxGetAppName();
HINSTANCE AfxGetInstanceHandle();
// The module that holds resource lpszName of type lpszType.
HINSTANCE AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType);

// A modal box captioned with the application name; an OK box with no icon gets the exclamation icon.
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
