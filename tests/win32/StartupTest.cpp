// The program's start-up in-process: CFrostpaneApp::InitInstance on the tests' application object, with the
// boxes recorded, the capture written to a scratch folder and the cover window closed by a key once it covers
// the monitor. It uses the program's own settings key; the tests run in a Wine prefix of their own.
#include "IatPatch.h"
#include "Pixels.h"
#include "Settings.h"
#include "TestApp.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string kProgramKey = std::string("Software\\") + kVendorName;
const DWORD kCoverLimitMs = 10000;

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

	// Runs the program's start-up to its end.
	void RunStartUp()
	{
		CTempPathRedirect temp(m_pTemp->Path());
		CMessageBoxRecorder boxes;
		g_hWndCover = nullptr;
		g_dwStartTick = ::GetTickCount();
		const UINT_PTR nTimer = ::SetTimer(nullptr, 0, 20, &CloseCoverOnceShown);
		EXPECT_FALSE(TestApp().CFrostpaneApp::InitInstance());
		::KillTimer(nullptr, nTimer);
		m_boxes = boxes.Texts();
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

	std::unique_ptr<CScratchFolder> m_pTemp;
	std::vector<std::string> m_boxes;
};

// Any MessageDisplayed but 0 means the notice was shown: no notice, and the value is left as it is.
TEST_F(StartupTest, MessageDisplayedOfSevenShowsNoNoticeAndIsLeftAsItIs)
{
	SetMessageDisplayed(7);
	RunStartUp();
	EXPECT_TRUE(m_boxes.empty()) << m_boxes.size() << " boxes, the first: " << m_boxes[0];
	EXPECT_EQ(MessageDisplayed(), 7u);
	EXPECT_NE(g_hWndCover, nullptr) << "the cover window did not cover the monitor";
	EXPECT_FALSE(TestApp().m_strCapturePath.IsEmpty());
	EXPECT_EQ(std::string(TestApp().GetProfileString(kSettingsSection, kScreenShotFilePathEntry, "")),
		std::string(TestApp().m_strCapturePath));
}

} // namespace
