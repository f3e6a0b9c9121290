// The program's start-up in-process: CFrostpaneApp::InitInstance on the tests' application object, on a
// Windows of the test's choice as far as DPI awareness goes, with the boxes recorded, the capture written to
// a scratch folder and the cover window closed by a key once it covers the monitor. It uses the program's own
// settings key; the tests run in a Wine prefix of their own.
#include "IatPatch.h"
#include "Pixels.h"
#include "Settings.h"
#include "TestApp.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <shellscalingapi.h>

namespace {

const std::string kProgramKey = std::string("Software\\") + kVendorName;
const DWORD kCoverLimitMs = 10000;

// Which of the DPI declarations the Windows the start-up runs on has.
struct Platform {
	const char* pszName;
	bool bContext;                        // user32!SetProcessDpiAwarenessContext
	bool bShcore;                         // shcore.dll with SetProcessDpiAwareness
	bool bSystem;                         // user32!SetProcessDPIAware
	std::vector<std::string> declaration; // what the start-up should look up, load and call, in order
};

void PrintTo(const Platform& platform, std::ostream* pStream) { *pStream << platform.pszName; }

// Everything the start-up did that matters for its order: the DPI lookups and calls, boxes (windows of their
// own), the cover window's creation and display contexts.
std::vector<std::string> g_events;
std::vector<std::string> g_boxes;
const Platform* g_pPlatform = nullptr;
void* g_pRealGetProcAddress = nullptr;
void* g_pRealLoadLibraryW = nullptr;
void* g_pRealCreateDialog = nullptr;
void* g_pRealCreateDCA = nullptr;
void* g_pRealGetDC = nullptr;

BOOL WINAPI RecordContext(DPI_AWARENESS_CONTEXT context)
{
	g_events.push_back("SetProcessDpiAwarenessContext " + std::to_string(reinterpret_cast<INT_PTR>(context)));
	return TRUE;
}

HRESULT WINAPI RecordShcore(PROCESS_DPI_AWARENESS awareness)
{
	g_events.push_back("SetProcessDpiAwareness " + std::to_string(awareness));
	return S_OK;
}

BOOL WINAPI RecordSystem()
{
	g_events.push_back("SetProcessDPIAware");
	return TRUE;
}

FARPROC WINAPI StandInGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
	const struct {
		const char* pszName;
		bool bPresent;
		void* pRecorder;
	} declarations[] = {
		{"SetProcessDpiAwarenessContext", g_pPlatform->bContext, reinterpret_cast<void*>(&RecordContext)},
		{"SetProcessDpiAwareness", g_pPlatform->bShcore, reinterpret_cast<void*>(&RecordShcore)},
		{"SetProcessDPIAware", g_pPlatform->bSystem, reinterpret_cast<void*>(&RecordSystem)},
	};
	for (const auto& declaration : declarations) {
		if (!IS_INTRESOURCE(pszName) && std::string(pszName) == declaration.pszName) {
			g_events.push_back(std::string("GetProcAddress ") + pszName);
			return declaration.bPresent ? reinterpret_cast<FARPROC>(declaration.pRecorder) : nullptr;
		}
	}
	return reinterpret_cast<decltype(&StandInGetProcAddress)>(g_pRealGetProcAddress)(hModule, pszName);
}

HMODULE WINAPI StandInLoadLibraryW(LPCWSTR pszName)
{
	if (pszName && ::lstrcmpiW(pszName, L"shcore.dll") == 0) {
		g_events.push_back("LoadLibraryW shcore.dll");
		if (!g_pPlatform->bShcore)
			return nullptr;
	}
	return reinterpret_cast<decltype(&StandInLoadLibraryW)>(g_pRealLoadLibraryW)(pszName);
}

int WINAPI RecordMessageBoxA(HWND, LPCSTR pszText, LPCSTR, UINT)
{
	g_events.push_back("MessageBoxA");
	g_boxes.push_back(pszText ? pszText : "");
	return IDOK;
}

HWND WINAPI LogCreateDialog(
	HINSTANCE hInst, LPCDLGTEMPLATEA pTemplate, HWND hWndParent, DLGPROC pfn, LPARAM lParam)
{
	g_events.push_back("CreateDialogIndirectParamA");
	return reinterpret_cast<decltype(&LogCreateDialog)>(g_pRealCreateDialog)(
		hInst, pTemplate, hWndParent, pfn, lParam);
}

HDC WINAPI LogCreateDCA(LPCSTR pszDriver, LPCSTR pszDevice, LPCSTR pszPort, const DEVMODEA* pdm)
{
	g_events.push_back("CreateDCA");
	return reinterpret_cast<decltype(&LogCreateDCA)>(g_pRealCreateDCA)(pszDriver, pszDevice, pszPort, pdm);
}

HDC WINAPI LogGetDC(HWND hWnd)
{
	g_events.push_back("GetDC");
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

const Platform kWindows10 = {"Windows10", true, true, true,
	{"GetProcAddress SetProcessDpiAwarenessContext", "SetProcessDpiAwarenessContext -4"}};

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

	// Runs the program's start-up to its end on platform.
	void RunStartUp(const Platform& platform)
	{
		g_events.clear();
		g_boxes.clear();
		g_pPlatform = &platform;
		g_hWndCover = nullptr;
		CTempPathRedirect temp(m_pTemp->Path());
		CIatPatch getProcAddress(
			"KERNEL32.dll", "GetProcAddress", reinterpret_cast<void*>(&StandInGetProcAddress));
		CIatPatch loadLibrary("KERNEL32.dll", "LoadLibraryW", reinterpret_cast<void*>(&StandInLoadLibraryW));
		CIatPatch messageBox("USER32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBoxA));
		CIatPatch createDialog(
			"USER32.dll", "CreateDialogIndirectParamA", reinterpret_cast<void*>(&LogCreateDialog));
		CIatPatch createDC("GDI32.dll", "CreateDCA", reinterpret_cast<void*>(&LogCreateDCA));
		CIatPatch getDC("USER32.dll", "GetDC", reinterpret_cast<void*>(&LogGetDC));
		g_pRealGetProcAddress = getProcAddress.Original();
		g_pRealLoadLibraryW = loadLibrary.Original();
		g_pRealCreateDialog = createDialog.Original();
		g_pRealCreateDCA = createDC.Original();
		g_pRealGetDC = getDC.Original();

		g_dwStartTick = ::GetTickCount();
		const UINT_PTR nTimer = ::SetTimer(nullptr, 0, 20, &CloseCoverOnceShown);
		EXPECT_FALSE(TestApp().CFrostpaneApp::InitInstance());
		::KillTimer(nullptr, nTimer);
		g_pPlatform = nullptr;
	}

	std::string SettingsKey() const { return kProgramKey + "\\" + TestApp().m_pszAppName + "\\Settings"; }

	void SetMessageDisplayed(DWORD dwValue) const
	{
		ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, SettingsKey().c_str(), kMessageDisplayedEntry,
					  REG_DWORD, &dwValue, sizeof(dwValue)),
			ERROR_SUCCESS);
	}

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

	std::unique_ptr<CScratchFolder> m_pTemp;
};

// Any MessageDisplayed but 0 means the notice was shown: no notice, and the value is left as it is.
TEST_F(StartupTest, MessageDisplayedOfSevenShowsNoNoticeAndIsLeftAsItIs)
{
	SetMessageDisplayed(7);
	RunStartUp(kWindows10);
	EXPECT_TRUE(g_boxes.empty()) << g_boxes.size() << " boxes, the first: " << g_boxes[0];
	EXPECT_EQ(MessageDisplayed(), 7u);
	ExpectCapturedAndShown();
}

class StartupDpi : public StartupTest, public ::testing::WithParamInterface<Platform>
{};

// On a first run, the process declares itself DPI aware with the best call the platform has, before the
// notice and before any display context or window; with none of the calls it starts all the same.
TEST_P(StartupDpi, DeclaredFirstWithTheBestCallThereIs)
{
	RunStartUp(GetParam());

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
	EXPECT_NE(std::find(g_events.begin(), g_events.end(), "CreateDCA"), g_events.end());
	EXPECT_NE(std::find(g_events.begin(), g_events.end(), "CreateDialogIndirectParamA"), g_events.end());

	ASSERT_EQ(g_boxes.size(), 1u) << "the first box: " << g_boxes[0];
	EXPECT_EQ(g_boxes[0].rfind("This Software Captures Screenshot", 0), 0u) << g_boxes[0];
	EXPECT_EQ(MessageDisplayed(), 1u);
	ExpectCapturedAndShown();
}

INSTANTIATE_TEST_SUITE_P(Platforms, StartupDpi,
	::testing::Values(kWindows10,
		Platform{"Windows81", false, true, true,
			{"GetProcAddress SetProcessDpiAwarenessContext", "LoadLibraryW shcore.dll",
				"GetProcAddress SetProcessDpiAwareness", "SetProcessDpiAwareness 2"}},
		Platform{"Windows7", false, false, true,
			{"GetProcAddress SetProcessDpiAwarenessContext", "LoadLibraryW shcore.dll",
				"GetProcAddress SetProcessDPIAware", "SetProcessDPIAware"}},
		Platform{"NoneOfThem", false, false, false,
			{"GetProcAddress SetProcessDpiAwarenessContext", "LoadLibraryW shcore.dll",
				"GetProcAddress SetProcessDPIAware"}}),
	[](const ::testing::TestParamInfo<Platform>& info) { return info.param.pszName; });

} // namespace
