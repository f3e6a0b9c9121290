// The program's start-up in-process: CFrostpaneApp::InitInstance on the tests' application object, on a
// Windows version of the test's choice as far as DPI awareness goes, with the boxes recorded, the capture
// written to a scratch folder and the cover window closed by a key once it covers the monitor. It uses the
// program's own settings key; the tests run in a Wine prefix of their own.
#include "BmpReader.h"
#include "IatPatch.h"
#include "Pixels.h"
#include "Settings.h"
#include "TestApp.h"
#include "afxres.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <shellscalingapi.h>

namespace {

const std::string kProgramKey = std::string("Software\\") + kVendorName;
const DWORD kCoverLimitMs = 10000;
using Size = std::pair<LONG, LONG>; // width, height

// How a Windows answers a DPI call of the start-up: kRefusesV2 is the context call of Windows 10 1607, which
// knows no per-monitor version 2; kFlagUnknown is a loader without LOAD_LIBRARY_SEARCH_SYSTEM32 (Vista, 7
// without KB2533623); kDenied is a process a manifest has already made aware.
enum Answer { kMissing, kAccepts, kRefusesV2, kFlagUnknown, kDenied };

// A Windows as far as DPI awareness goes: its answers, whether the process ends aware, and what the start-up
// should look up, load and call there, in order.
struct WindowsVersion {
	const char* pszName;
	Answer context; // user32!SetProcessDpiAwarenessContext
	Answer shcore;  // shcore.dll in the system folder, with SetProcessDpiAwareness
	Answer system;  // user32!SetProcessDPIAware
	bool bAware;
	std::vector<std::string> declaration;
};

void PrintTo(const WindowsVersion& version, std::ostream* pStream) { *pStream << version.pszName; }

// Everything the start-up did that matters for its order: the DPI lookups, loads and calls, boxes (windows of
// their own), the cover window's creation and display contexts.
std::vector<std::string> g_events;
std::vector<std::string> g_boxes;
const WindowsVersion* g_pVersion = nullptr;
HMODULE g_hShcore = nullptr;
void* g_pRealGetProcAddress = nullptr;
void* g_pRealLoad[2] = {}; // LoadLibraryW, LoadLibraryExW
void* g_pRealCreateDialog = nullptr;
void* g_pRealGetDC = nullptr;

// The running Wine's own export. A declaration the Windows accepts is made for real as well, so that a Wine
// that scales shows its result; what Wine answers is not the program's concern (Wine 8 makes every process
// aware from the start and refuses them all).
template <class TPfn> TPfn Real(HMODULE hModule, const char* pszName)
{
	return reinterpret_cast<TPfn>(reinterpret_cast<void (*)()>(
		reinterpret_cast<decltype(&::GetProcAddress)>(g_pRealGetProcAddress)(hModule, pszName)));
}

HMODULE User32() { return ::GetModuleHandleA("user32.dll"); }

BOOL WINAPI StandInContext(DPI_AWARENESS_CONTEXT context)
{
	g_events.push_back("SetProcessDpiAwarenessContext " + std::to_string(reinterpret_cast<INT_PTR>(context)));
	const Answer answer = g_pVersion->context;
	if (answer == kDenied ||
		(answer == kRefusesV2 && context == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
		::SetLastError(answer == kDenied ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
		return FALSE;
	}
	Real<decltype(&StandInContext)>(User32(), "SetProcessDpiAwarenessContext")(context);
	return TRUE;
}

HRESULT WINAPI StandInShcore(PROCESS_DPI_AWARENESS awareness)
{
	g_events.push_back("SetProcessDpiAwareness " + std::to_string(awareness));
	if (g_pVersion->shcore == kDenied)
		return E_ACCESSDENIED;
	Real<decltype(&StandInShcore)>(g_hShcore, "SetProcessDpiAwareness")(awareness);
	return S_OK;
}

BOOL WINAPI StandInSystem()
{
	g_events.push_back("SetProcessDPIAware");
	Real<decltype(&StandInSystem)>(User32(), "SetProcessDPIAware")();
	return TRUE;
}

// The DPI calls are found only in the module that has them on this Windows; a lookup elsewhere is noted.
FARPROC WINAPI StandInGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
	const struct {
		const char* pszName;
		HMODULE hFrom;
		Answer answer;
		void* pStandIn;
	} calls[] = {
		{"SetProcessDpiAwarenessContext", User32(), g_pVersion->context,
			reinterpret_cast<void*>(&StandInContext)},
		{"SetProcessDpiAwareness", g_hShcore, g_pVersion->shcore, reinterpret_cast<void*>(&StandInShcore)},
		{"SetProcessDPIAware", User32(), g_pVersion->system, reinterpret_cast<void*>(&StandInSystem)},
	};
	for (const auto& call : calls) {
		if (IS_INTRESOURCE(pszName) || std::string(pszName) != call.pszName)
			continue;
		if (!hModule || hModule != call.hFrom)
			g_events.push_back(std::string("GetProcAddress elsewhere ") + pszName);
		return hModule && hModule == call.hFrom && call.answer != kMissing
				   ? reinterpret_cast<FARPROC>(call.pStandIn)
				   : nullptr;
	}
	return reinterpret_cast<decltype(&StandInGetProcAddress)>(g_pRealGetProcAddress)(hModule, pszName);
}

// shcore.dll as this Windows's loader finds it. Asked for the system folder alone, it answers as the version
// does; any other load searches the exe's folder first, where a planted shcore.dll would run.
HMODULE LoadShcore(const char* pszCall, DWORD dwFlags)
{
	char szFlags[16];
	std::snprintf(szFlags, sizeof(szFlags), " 0x%lx", static_cast<unsigned long>(dwFlags));
	g_events.push_back(std::string(pszCall) + " shcore.dll" + szFlags);
	const Answer answer = g_pVersion->shcore;
	if (!(dwFlags & LOAD_LIBRARY_SEARCH_SYSTEM32))
		g_events.push_back("the shcore.dll planted beside the exe runs");
	else if (answer == kAccepts || answer == kDenied)
		return g_hShcore = reinterpret_cast<decltype(&::LoadLibraryW)>(g_pRealLoad[0])(L"shcore.dll");
	::SetLastError(answer == kFlagUnknown && dwFlags ? ERROR_INVALID_PARAMETER : ERROR_MOD_NOT_FOUND);
	return nullptr;
}

bool IsShcore(LPCWSTR pszName) { return pszName && ::lstrcmpiW(pszName, L"shcore.dll") == 0; }

// The program's loads of shcore.dll; a load of it in any other form shows as a lookup "elsewhere".
HMODULE WINAPI StandInLoadLibraryW(LPCWSTR pszName)
{
	return IsShcore(pszName) ? LoadShcore("LoadLibraryW", 0)
							 : reinterpret_cast<decltype(&::LoadLibraryW)>(g_pRealLoad[0])(pszName);
}

HMODULE WINAPI StandInLoadLibraryExW(LPCWSTR pszName, HANDLE hFile, DWORD dwFlags)
{
	return IsShcore(pszName)
			   ? LoadShcore("LoadLibraryExW", dwFlags)
			   : reinterpret_cast<decltype(&::LoadLibraryExW)>(g_pRealLoad[1])(pszName, hFile, dwFlags);
}

// When the last box was closed and when the screen's context was first asked for after it.
DWORD g_dwBoxClosedTick = 0;
DWORD g_dwScreenTick = 0;

int WINAPI RecordMessageBoxA(HWND, LPCSTR pszText, LPCSTR, UINT)
{
	g_events.push_back("MessageBoxA");
	g_boxes.push_back(pszText ? pszText : "");
	g_dwBoxClosedTick = ::GetTickCount();
	g_dwScreenTick = 0;
	return IDOK;
}

HWND WINAPI LogCreateDialog(
	HINSTANCE hInst, LPCDLGTEMPLATEA pTemplate, HWND hWndParent, DLGPROC pfn, LPARAM lParam)
{
	g_events.push_back("CreateDialogIndirectParamA");
	return reinterpret_cast<decltype(&LogCreateDialog)>(g_pRealCreateDialog)(
		hInst, pTemplate, hWndParent, pfn, lParam);
}

HDC WINAPI LogGetDC(HWND hWnd)
{
	g_events.push_back(hWnd ? "GetDC" : "GetDC(NULL)");
	if (!hWnd && !g_dwScreenTick)
		g_dwScreenTick = ::GetTickCount();
	return reinterpret_cast<decltype(&LogGetDC)>(g_pRealGetDC)(hWnd);
}

HWND g_hWndCover = nullptr;
DWORD g_dwStartTick = 0;

// Runs on a thread timer inside InitInstance's loops: once the cover window covers the primary monitor, it is
// noted and closed with a key; past the limit it is closed all the same, unnoted.
void CALLBACK CloseCoverOnceShown(HWND, UINT, UINT_PTR, DWORD)
{
	CWnd* pMainWnd = AfxGetMainWnd();
	if (g_hWndCover || !pMainWnd || !pMainWnd->m_hWnd)
		return;
	RECT rc = {};
	::GetWindowRect(pMainWnd->m_hWnd, &rc);
	const bool bCovers = ::IsWindowVisible(pMainWnd->m_hWnd) && rc.left == 0 && rc.top == 0 &&
						 rc.right == ::GetSystemMetrics(SM_CXSCREEN) &&
						 rc.bottom == ::GetSystemMetrics(SM_CYSCREEN);
	if (bCovers)
		g_hWndCover = pMainWnd->m_hWnd;
	if (bCovers || ::GetTickCount() - g_dwStartTick > kCoverLimitMs)
		::PostMessageA(pMainWnd->m_hWnd, WM_KEYDOWN, 'K', 0x00250001);
}

const char kContextV2[] = "SetProcessDpiAwarenessContext -4";
const char kShcoreLoad[] = "LoadLibraryExW shcore.dll 0x800";
const char kShcorePerMonitor[] = "SetProcessDpiAwareness 2";
const char kSystem[] = "SetProcessDPIAware";

const WindowsVersion kWindows10v1703 = {"Windows10v1703", kAccepts, kAccepts, kAccepts, true, {kContextV2}};

class StartupTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		::RegDeleteTreeA(HKEY_CURRENT_USER, kProgramKey.c_str());
		m_pTemp = std::make_unique<CScratchFolder>("startup");
	}
	void TearDown() override
	{
		::RegDeleteTreeA(HKEY_CURRENT_USER, kProgramKey.c_str());
		::RegDeleteKeyA(HKEY_CURRENT_USER, kProgramKey.c_str());
		TestApp().SetRegistryKey(kTestVendor);
	}

	// Runs the program's start-up to its end on version, in a process that has declared nothing yet
	// (awareness cannot be undone; CTest runs each test in a process of its own).
	void RunStartUp(const WindowsVersion& version)
	{
		m_sizeRead = {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
		ASSERT_EQ(m_sizeRead, CaptureSize(false)) << "read before declaring: the process is aware already "
													 "(run each test alone) or Wine does not scale";
		g_events.clear();
		g_boxes.clear();
		g_pVersion = &version;
		g_hShcore = nullptr;
		g_hWndCover = nullptr;
		g_dwBoxClosedTick = g_dwScreenTick = 0;
		CTempPathRedirect temp(m_pTemp->Path());
		CIatPatch getProcAddress(
			"KERNEL32.dll", "GetProcAddress", reinterpret_cast<void*>(&StandInGetProcAddress));
		// LoadLibraryExW is imported only once the program calls it.
		const std::pair<const char*, void*> loads[] = {
			{"LoadLibraryW", reinterpret_cast<void*>(&StandInLoadLibraryW)},
			{"LoadLibraryExW", reinterpret_cast<void*>(&StandInLoadLibraryExW)}};
		std::optional<CIatPatch> loadPatches[2];
		for (int i = 0; i < 2; ++i) {
			if (FindImportSlot("KERNEL32.dll", loads[i].first))
				g_pRealLoad[i] =
					loadPatches[i].emplace("KERNEL32.dll", loads[i].first, loads[i].second).Original();
		}
		CIatPatch messageBox("USER32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBoxA));
		CIatPatch createDialog(
			"USER32.dll", "CreateDialogIndirectParamA", reinterpret_cast<void*>(&LogCreateDialog));
		CIatPatch getDC("USER32.dll", "GetDC", reinterpret_cast<void*>(&LogGetDC));
		g_pRealGetProcAddress = getProcAddress.Original();
		g_pRealCreateDialog = createDialog.Original();
		g_pRealGetDC = getDC.Original();
		// As a manifest would, before the program runs.
		if (version.context == kDenied || version.shcore == kDenied)
			Real<decltype(&StandInContext)>(User32(), "SetProcessDpiAwarenessContext")(
				DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

		g_dwStartTick = ::GetTickCount();
		const UINT_PTR nTimer = ::SetTimer(nullptr, 0, 20, &CloseCoverOnceShown);
		EXPECT_FALSE(TestApp().CFrostpaneApp::InitInstance());
		::KillTimer(nullptr, nTimer);
		g_pVersion = nullptr;
	}

	std::string SettingsKey() const { return kProgramKey + "\\" + TestApp().m_pszAppName + "\\Settings"; }

	// The value as REG_DWORD; 0xFFFFFFFF when it is absent or of another type.
	DWORD MessageDisplayed() const
	{
		DWORD dwValue = 0xFFFFFFFF;
		DWORD cbValue = sizeof(dwValue);
		if (::RegGetValueA(HKEY_CURRENT_USER, SettingsKey().c_str(), kMessageDisplayedEntry, RRF_RT_REG_DWORD,
				nullptr, &dwValue, &cbValue) != ERROR_SUCCESS)
			return 0xFFFFFFFF;
		return dwValue;
	}

	// The capture was written, its path recorded, and the cover window covered the monitor.
	void ExpectCapturedAndShown() const
	{
		const std::string strPath = static_cast<LPCTSTR>(TestApp().m_strCapturePath);
		EXPECT_EQ(::GetFileAttributesA(strPath.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << strPath;
		EXPECT_EQ(strPath.rfind(m_pTemp->Path(), 0), 0u) << strPath;
		EXPECT_EQ(
			std::string(TestApp().GetProfileString(kSettingsSection, kScreenShotFilePathEntry, "")), strPath);
		EXPECT_NE(g_hWndCover, nullptr) << "the cover window did not cover the monitor";
	}

	// The capture's size on this display: the whole monitor at device pixels once the process is aware; left
	// unaware on a scaled display, what Windows shows such a process, device * 96 / dpi. The harness's
	// scaled-display runs name the display (FROSTPANE_SCREEN, WxH) and the dots per inch the Wine scales by
	// (FROSTPANE_EXPECT_DPI); without them both are the size the process read before declaring anything.
	Size CaptureSize(bool bAware) const
	{
		const char* pszScreen = std::getenv("FROSTPANE_SCREEN");
		const char* pszDpi = std::getenv("FROSTPANE_EXPECT_DPI");
		if (!pszScreen && !pszDpi)
			return m_sizeRead;
		long cx = 0, cy = 0;
		const long nDpi = pszDpi ? std::atol(pszDpi) : 0;
		if (!pszScreen || std::sscanf(pszScreen, "%ldx%ld", &cx, &cy) != 2 || nDpi <= 0)
			ADD_FAILURE() << "FROSTPANE_SCREEN (WxH) and FROSTPANE_EXPECT_DPI go together";
		return bAware || nDpi <= 0 ? Size(cx, cy) : Size(cx * 96 / nDpi, cy * 96 / nDpi);
	}

	std::unique_ptr<CScratchFolder> m_pTemp;
	Size m_sizeRead;
};

class StartupDpi : public StartupTest, public ::testing::WithParamInterface<WindowsVersion>
{};

// On a first run, the process declares itself DPI aware with the best call this Windows takes, before the
// notice and before any display context or window, and captures the whole monitor; with none of the calls it
// starts all the same and captures what an unaware process sees.
TEST_P(StartupDpi, DeclaredFirstWithTheBestCallThereIs)
{
	ASSERT_NO_FATAL_FAILURE(RunStartUp(GetParam()));

	std::vector<std::string> declaration;
	size_t nFirstOther = g_events.size();
	for (size_t i = 0; i < g_events.size(); ++i) {
		const bool bDpi = g_events[i].find("Dpi") != std::string::npos ||
						  g_events[i].find("DPI") != std::string::npos ||
						  g_events[i].find("shcore") != std::string::npos;
		if (bDpi)
			declaration.push_back(g_events[i]);
		else if (nFirstOther == g_events.size())
			nFirstOther = i;
		EXPECT_TRUE(!bDpi || i < nFirstOther) << g_events[i] << " after " << g_events[nFirstOther];
	}
	EXPECT_EQ(declaration, GetParam().declaration);
	ASSERT_LT(nFirstOther, g_events.size());
	EXPECT_EQ(g_events[nFirstOther], "MessageBoxA") << "the notice is not the first window";
	EXPECT_NE(std::find(g_events.begin(), g_events.end(), "GetDC(NULL)"), g_events.end());
	EXPECT_NE(std::find(g_events.begin(), g_events.end(), "CreateDialogIndirectParamA"), g_events.end());

	ASSERT_EQ(g_boxes.size(), 1u) << ::testing::PrintToString(g_boxes);
	EXPECT_EQ(g_boxes[0].rfind("This Software Captures Screenshot", 0), 0u) << g_boxes[0];
	// The screen is photographed only once what lay under the notice has had a quarter second to repaint.
	ASSERT_NE(g_dwScreenTick, 0u) << "the screen's context was not asked for after the notice";
	EXPECT_GE(g_dwScreenTick - g_dwBoxClosedTick, 250u) << "the capture followed the notice too soon";
	EXPECT_EQ(MessageDisplayed(), 1u);
	ExpectCapturedAndShown();

	BmpFile bmp;
	std::string strError;
	ASSERT_TRUE(ParseBmp(ReadFileBytes(static_cast<LPCTSTR>(TestApp().m_strCapturePath)), bmp, strError))
		<< strError;
	EXPECT_EQ(Size(bmp.biWidth, std::abs(bmp.biHeight)), CaptureSize(GetParam().bAware));
}

// Windows versions by what their documentation gives; Vista answers as 7 without KB2533623.
INSTANTIATE_TEST_SUITE_P(Windows, StartupDpi,
	::testing::Values(
		WindowsVersion{"Windows7", kMissing, kFlagUnknown, kAccepts, true, {kShcoreLoad, kSystem}},
		WindowsVersion{"Windows7KB2533623", kMissing, kMissing, kAccepts, true, {kShcoreLoad, kSystem}},
		WindowsVersion{"Windows81", kMissing, kAccepts, kAccepts, true, {kShcoreLoad, kShcorePerMonitor}},
		WindowsVersion{"Windows10v1607", kRefusesV2, kAccepts, kAccepts, true,
			{kContextV2, kShcoreLoad, kShcorePerMonitor}},
		kWindows10v1703,
		WindowsVersion{"Windows10AwareByManifest", kDenied, kDenied, kAccepts, true, {kContextV2}},
		WindowsVersion{
			"Windows81AwareByManifest", kMissing, kDenied, kAccepts, true, {kShcoreLoad, kShcorePerMonitor}},
		WindowsVersion{"NoneOfTheCalls", kMissing, kMissing, kMissing, false, {kShcoreLoad}}),
	[](const ::testing::TestParamInfo<WindowsVersion>& info) { return info.param.pszName; });

// CWinApp's own map chain, read without making a second application object.
struct CWinAppMaps : CWinApp {
	using CWinApp::GetThisMessageMap;
};

// The help command reaches CWinApp::OnHelp through the application's own message map, CWinApp's chain
// holding no entry for it; other commands reach no handler. With no main window, OnHelp opens nothing.
TEST(ApplicationCommands, HelpIsRoutedByTheApplicationsMapAlone)
{
	ASSERT_EQ(TestApp().m_pMainWnd, nullptr);
	EXPECT_TRUE(TestApp().OnCmdMsg(ID_HELP, 0));
	EXPECT_FALSE(TestApp().OnCmdMsg(ID_HELP + 1, 0));
	EXPECT_FALSE(TestApp().OnCmdMsg(ID_HELP, 1)) << "a notification code is not the command";
	for (const AFX_MSGMAP* pMap = CWinAppMaps::GetThisMessageMap(); pMap;
		 pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
		for (const AFX_MSGMAP_ENTRY* pEntry = pMap->lpEntries; pEntry->nSig != AfxSig_end; ++pEntry)
			EXPECT_FALSE(pEntry->nMessage == WM_COMMAND && pEntry->nID == ID_HELP)
				<< "CWinApp routes ID_HELP";
	}
}

} // namespace
