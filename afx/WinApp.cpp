// CWinApp: start-up, the registry profile and the application-wide helpers.
#include "WinApp.h"

#include "HandleOwner.h"
#include "Wnd.h"
#include "afxres.h"

namespace {

CWinApp* g_pApp = nullptr;

HKEY OpenSubKey(HKEY hParent, LPCTSTR lpszName, bool bCreate)
{
	HKEY hKey = nullptr;
	LONG lResult;
	if (bCreate)
		lResult = ::RegCreateKeyExA(hParent, lpszName, 0, nullptr, REG_OPTION_NON_VOLATILE,
			KEY_READ | KEY_WRITE, nullptr, &hKey, nullptr);
	else
		lResult = ::RegOpenKeyExA(hParent, lpszName, 0, KEY_READ, &hKey);
	return lResult == ERROR_SUCCESS ? hKey : nullptr;
}

} // namespace

CWinApp::CWinApp() { g_pApp = this; }

CWinApp::~CWinApp()
{
	if (g_pApp == this)
		g_pApp = nullptr;
}

void CWinApp::SetCurrentHandles(HINSTANCE hInstance)
{
	m_hInstance = hInstance;
	m_strAppName.LoadString(AFX_IDS_APP_TITLE);
	m_pszAppName = m_strAppName;
	char szModule[MAX_PATH] = "";
	::GetModuleFileNameA(hInstance, szModule, MAX_PATH);
	m_strHelpFilePath = szModule;
	const int nLength = m_strHelpFilePath.GetLength();
	if (nLength > 4 && m_strHelpFilePath.GetAt(nLength - 4) == '.')
		m_strHelpFilePath = CString(static_cast<LPCTSTR>(m_strHelpFilePath), nLength - 4);
	m_strHelpFilePath += ".HLP";
	m_pszHelpFilePath = m_strHelpFilePath;
	m_pszProfileName = m_pszAppName;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControls() { return TRUE; }

void CWinApp::SetRegistryKey(LPCTSTR lpszRegistryKey)
{
	m_strRegistryKey = lpszRegistryKey;
	m_pszRegistryKey = m_strRegistryKey;
	m_pszProfileName = m_pszAppName;
}

HKEY CWinApp::GetSectionKey(LPCTSTR lpszSection, bool bCreate) const
{
	if (!m_pszRegistryKey || !m_pszProfileName)
		return nullptr;
	// Each key stays open until its section key is opened; the section key goes to the caller.
	const LPCTSTR names[] = {"Software", m_pszRegistryKey, m_pszProfileName, lpszSection};
	CRegKeyHandle keys[4];
	HKEY hKey = HKEY_CURRENT_USER;
	for (int i = 0; i < 4 && hKey; ++i) {
		hKey = OpenSubKey(hKey, names[i], bCreate);
		keys[i].Attach(hKey);
	}
	return keys[3].Detach();
}

UINT CWinApp::GetProfileInt(LPCTSTR lpszSection, LPCTSTR lpszEntry, int nDefault)
{
	CRegKeyHandle key(GetSectionKey(lpszSection, false));
	if (!key)
		return static_cast<UINT>(nDefault);
	DWORD dwType = 0;
	DWORD dwValue = 0;
	DWORD dwCount = sizeof(dwValue);
	const LONG lResult =
		::RegQueryValueExA(key, lpszEntry, nullptr, &dwType, reinterpret_cast<LPBYTE>(&dwValue), &dwCount);
	if (lResult != ERROR_SUCCESS || dwType != REG_DWORD || dwCount != sizeof(dwValue))
		return static_cast<UINT>(nDefault);
	return dwValue;
}

BOOL CWinApp::WriteProfileInt(LPCTSTR lpszSection, LPCTSTR lpszEntry, int nValue)
{
	const DWORD dwValue = static_cast<DWORD>(nValue);
	return SetSectionValue(lpszSection, lpszEntry, REG_DWORD, &dwValue, sizeof(dwValue));
}

CString CWinApp::GetProfileString(LPCTSTR lpszSection, LPCTSTR lpszEntry, LPCTSTR lpszDefault)
{
	CRegKeyHandle key(GetSectionKey(lpszSection, false));
	DWORD dwType = 0;
	DWORD dwCount = 0;
	if (!key || ::RegQueryValueExA(key, lpszEntry, nullptr, &dwType, nullptr, &dwCount) != ERROR_SUCCESS ||
		dwType != REG_SZ)
		return lpszDefault;

	CString strValue;
	LONG lResult;
	// Another run may store a longer path between the size query and the read: read again at its size.
	do {
		// One extra character, so a value stored without its terminating null still ends.
		LPTSTR pszBuffer = strValue.GetBuffer(static_cast<int>(dwCount) + 1);
		lResult = ::RegQueryValueExA(
			key, lpszEntry, nullptr, &dwType, reinterpret_cast<LPBYTE>(pszBuffer), &dwCount);
		pszBuffer[lResult == ERROR_SUCCESS ? dwCount : 0] = '\0';
	} while (lResult == ERROR_MORE_DATA);
	if (lResult != ERROR_SUCCESS || dwType != REG_SZ)
		return lpszDefault;
	strValue.ReleaseBuffer();
	return strValue;
}

BOOL CWinApp::WriteProfileString(LPCTSTR lpszSection, LPCTSTR lpszEntry, LPCTSTR lpszValue)
{
	return SetSectionValue(lpszSection, lpszEntry, REG_SZ, lpszValue, 0);
}

BOOL CWinApp::SetSectionValue(
	LPCTSTR lpszSection, LPCTSTR lpszEntry, DWORD dwType, const void* pData, DWORD cbData)
{
	CRegKeyHandle key(GetSectionKey(lpszSection, true));
	if (!key)
		return FALSE;
	// A string is stored with its terminating null.
	if (dwType == REG_SZ)
		cbData = static_cast<DWORD>(lstrlenA(static_cast<LPCTSTR>(pData)) + 1);
	return ::RegSetValueExA(key, lpszEntry, 0, dwType, static_cast<const BYTE*>(pData), cbData) ==
		   ERROR_SUCCESS;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
	return ::LoadIconA(
		AfxFindResourceHandle(MAKEINTRESOURCEA(nIDResource), RT_GROUP_ICON), MAKEINTRESOURCEA(nIDResource));
}

void CWinApp::OnHelp()
{
	if (m_pMainWnd)
		m_pMainWnd->WinHelp(0, HELP_FINDER);
}

CWinApp* AfxGetApp() { return g_pApp; }

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

LPCTSTR AfxGetAppName() { return g_pApp ? g_pApp->m_pszAppName : nullptr; }

HINSTANCE AfxGetInstanceHandle()
{
	return g_pApp && g_pApp->m_hInstance ? g_pApp->m_hInstance : ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCTSTR /*lpszName*/, LPCTSTR /*lpszType*/)
{
	// The program keeps every resource in its own module.
	return AfxGetInstanceHandle();
}

int AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT /*nIDHelp*/)
{
	if ((nType & MB_ICONMASK) == 0)
		nType |= MB_ICONEXCLAMATION;
	CWnd* pMainWnd = AfxGetMainWnd();
	HWND hWndOwner = pMainWnd && ::IsWindow(pMainWnd->m_hWnd) ? pMainWnd->m_hWnd : nullptr;
	return ::MessageBoxA(hWndOwner, lpszText, AfxGetAppName(), nType);
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPTSTR /*lpCmdLine*/, int /*nCmdShow*/)
{
	CWinApp* pApp = AfxGetApp();
	if (!pApp)
		return -1;
	pApp->SetCurrentHandles(hInstance);
	pApp->InitInstance();
	return pApp->ExitInstance();
}
