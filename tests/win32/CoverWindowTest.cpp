// The cover window run modally in-process with the tests' application object: a script driven by a
// thread timer inside the modal loop sends and posts the window's messages and reads its pixels back.
#include "FrostpaneDlg.h"
#include "IatPatch.h"
#include "Pixels.h"
#include "TestApp.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

const char kSection[] = "Settings";
const char kEntry[] = "ScreenShotFilePath";
const DWORD kScriptLimitMs = 10000;

// What the hooks saw while a cover window ran.
struct Observed {
	HWND hWndCover = nullptr;
	std::vector<std::pair<WPARAM, DWORD>> timers; // WM_TIMER id and tick, for the cover window
	struct Created {
		std::string strClass;
		std::string strCaption;
		HWND hWndOwner;
	};
	std::vector<Created> dialogs; // dialogs created while the cover window ran
};

Observed g_observed;
HHOOK g_hGetMessageHook = nullptr;
HHOOK g_hCbtHook = nullptr;

LRESULT CALLBACK GetMessageHook(int nCode, WPARAM wParam, LPARAM lParam)
{
	const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
	if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == WM_TIMER &&
		pMsg->hwnd == g_observed.hWndCover && g_observed.hWndCover)
		g_observed.timers.emplace_back(pMsg->wParam, ::GetTickCount());
	return ::CallNextHookEx(g_hGetMessageHook, nCode, wParam, lParam);
}

// Records each dialog created over the cover window and closes it with OK once its loop runs.
LRESULT CALLBACK CbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
	if (nCode == HCBT_CREATEWND && g_observed.hWndCover) {
		HWND hWnd = reinterpret_cast<HWND>(wParam);
		const CREATESTRUCTA* pcs = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
		char szClass[64] = "";
		::GetClassNameA(hWnd, szClass, sizeof(szClass));
		if (std::string(szClass) == "#32770" && hWnd != g_observed.hWndCover) {
			g_observed.dialogs.push_back({szClass,
				pcs->lpszName && !IS_INTRESOURCE(pcs->lpszName) ? pcs->lpszName : "", pcs->hwndParent});
			::PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
		}
	}
	return ::CallNextHookEx(g_hCbtHook, nCode, wParam, lParam);
}

// The timers asked of the platform for a window (the script's own thread timer has none).
struct TimerRequest {
	HWND hWnd;
	UINT_PTR nIDEvent;
	UINT nElapse;
	TIMERPROC pfnTimer;
	bool operator==(const TimerRequest& other) const
	{
		return hWnd == other.hWnd && nIDEvent == other.nIDEvent && nElapse == other.nElapse &&
			   pfnTimer == other.pfnTimer;
	}
};
std::vector<TimerRequest> g_timerRequests;
void* g_pRealSetTimer = nullptr;

UINT_PTR WINAPI RecordSetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT nElapse, TIMERPROC pfnTimer)
{
	if (hWnd)
		g_timerRequests.push_back({hWnd, nIDEvent, nElapse, pfnTimer});
	return reinterpret_cast<decltype(&RecordSetTimer)>(g_pRealSetTimer)(hWnd, nIDEvent, nElapse, pfnTimer);
}

void PrintTo(const TimerRequest& request, std::ostream* pStream)
{
	*pStream << "SetTimer(" << request.hWnd << ", " << request.nIDEvent << ", " << request.nElapse << ", "
			 << reinterpret_cast<void*>(request.pfnTimer) << ")";
}

class CCoverProbe;
CCoverProbe* g_pProbe = nullptr;

// The cover window with a test script: after the program's own OnInitDialog, onInit runs, then each step
// runs on a 15 ms thread timer until it answers true.
class CCoverProbe : public CFrostpaneDlg
{
public:
	using Step = std::function<bool(CCoverProbe&)>;

	std::function<void(CCoverProbe&)> onInit;
	std::vector<Step> steps;
	int nCancels = 0;
	DWORD dwInitTick = 0;
	bool bTimedOut = false;

	// How many steps answered true before the window ended.
	size_t StepsDone() const { return m_nStep; }
	HBITMAP Bitmap() const { return static_cast<HBITMAP>(m_bitmap.GetSafeHandle()); }
	const CString& ImagePath() const { return m_strImagePath; }
	HICON Icon() const { return m_hIcon; }

	INT_PTR Run()
	{
		g_observed = Observed();
		g_pProbe = this;
		CWnd* pOldMain = TestApp().m_pMainWnd;
		TestApp().m_pMainWnd = this;
		const INT_PTR nResult = DoModal();
		TestApp().m_pMainWnd = pOldMain;
		if (m_nScriptTimer)
			::KillTimer(nullptr, m_nScriptTimer);
		m_nScriptTimer = 0;
		if (g_hGetMessageHook)
			::UnhookWindowsHookEx(g_hGetMessageHook);
		if (g_hCbtHook)
			::UnhookWindowsHookEx(g_hCbtHook);
		g_hGetMessageHook = g_hCbtHook = nullptr;
		g_pProbe = nullptr;
		g_observed.hWndCover = nullptr;
		return nResult;
	}

	// The client area as the window holds it now.
	std::vector<uint32_t> Pixels(int& nWidth, int& nHeight) const
	{
		RECT rc;
		::GetClientRect(m_hWnd, &rc);
		nWidth = rc.right;
		nHeight = rc.bottom;
		return ReadWindowPixels(m_hWnd, nWidth, nHeight);
	}

protected:
	BOOL OnInitDialog() override
	{
		dwInitTick = ::GetTickCount();
		g_observed.hWndCover = m_hWnd;
		g_hGetMessageHook =
			::SetWindowsHookExA(WH_GETMESSAGE, &GetMessageHook, nullptr, ::GetCurrentThreadId());
		g_hCbtHook = ::SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, ::GetCurrentThreadId());
		const BOOL bResult = CFrostpaneDlg::OnInitDialog();
		if (onInit)
			onInit(*this);
		m_nScriptTimer = ::SetTimer(nullptr, 0, 15, &ScriptTick);
		return bResult;
	}

	void OnCancel() override
	{
		++nCancels;
		CFrostpaneDlg::OnCancel();
	}

private:
	static void CALLBACK ScriptTick(HWND, UINT, UINT_PTR, DWORD)
	{
		CCoverProbe* pThis = g_pProbe;
		if (!pThis || pThis->m_bInStep)
			return;
		if (::GetTickCount() - pThis->dwInitTick > kScriptLimitMs) {
			pThis->bTimedOut = true;
			RECT rc = {};
			::GetWindowRect(pThis->m_hWnd, &rc);
			ADD_FAILURE() << "the script timed out at step " << pThis->m_nStep << "; timers seen "
						  << g_observed.timers.size() << ", zoomed " << ::IsZoomed(pThis->m_hWnd)
						  << ", window " << rc.left << "," << rc.top << "-" << rc.right << "," << rc.bottom
						  << ", screen " << ::GetSystemMetrics(SM_CXSCREEN) << "x"
						  << ::GetSystemMetrics(SM_CYSCREEN);
			pThis->EndDialog(-2);
			return;
		}
		if (pThis->m_nStep >= pThis->steps.size())
			return;
		pThis->m_bInStep = true;
		const bool bDone = pThis->steps[pThis->m_nStep](*pThis);
		pThis->m_bInStep = false;
		if (bDone)
			++pThis->m_nStep;
	}

	UINT_PTR m_nScriptTimer = 0;
	size_t m_nStep = 0;
	bool m_bInStep = false;
};

uint32_t ScreenMask()
{
	HDC hDC = ::GetDC(nullptr);
	const int nBits = ::GetDeviceCaps(hDC, BITSPIXEL);
	::ReleaseDC(nullptr, hDC);
	return nBits == 16 ? 0xF8F8F8 : 0xFFFFFF;
}

// The window shows picture (nPicWidth x nPicHeight) at its top-left and black everywhere else.
::testing::AssertionResult ShowsPictureOnBlack(const std::vector<uint32_t>& shown, int nWidth, int nHeight,
	const std::vector<uint32_t>& picture, int nPicWidth, int nPicHeight)
{
	const uint32_t mask = ScreenMask();
	size_t nWrong = 0;
	std::string strFirst;
	for (int y = 0; y < nHeight; ++y) {
		for (int x = 0; x < nWidth; ++x) {
			const uint32_t want =
				x < nPicWidth && y < nPicHeight ? picture[static_cast<size_t>(y) * nPicWidth + x] : 0;
			const uint32_t got = shown[static_cast<size_t>(y) * nWidth + x];
			if ((got & mask) != (want & mask) && nWrong++ == 0) {
				char sz[96];
				std::snprintf(sz, sizeof(sz), "first at %d,%d: %06x, expected %06x", x, y, got, want);
				strFirst = sz;
			}
		}
	}
	if (nWrong == 0)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << nWrong << " pixels wrong; " << strFirst;
}

bool CoversThePrimaryMonitor(HWND hWnd)
{
	RECT rc;
	::GetWindowRect(hWnd, &rc);
	return rc.left == 0 && rc.top == 0 && rc.right == ::GetSystemMetrics(SM_CXSCREEN) &&
		   rc.bottom == ::GetSystemMetrics(SM_CYSCREEN);
}

class CoverWindowTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		TestApp().ClearProfile();
		m_pFolder = std::make_unique<CScratchFolder>("cover");
	}
	void TearDown() override { TestApp().ClearProfile(); }

	// Writes a picture to a BMP file and records its path where the window reads it.
	std::string RecordPicture(int nWidth, int nHeight, const std::vector<uint32_t>& picture)
	{
		const std::string strPath = m_pFolder->Path() + "capture.bmp";
		EXPECT_TRUE(WriteBmp24(strPath, nWidth, nHeight, picture));
		EXPECT_TRUE(TestApp().WriteProfileString(kSection, kEntry, strPath.c_str()));
		return strPath;
	}

	std::unique_ptr<CScratchFolder> m_pFolder;
};

// Waits for the single timer's draw and for the window to cover the primary monitor. (Under Wine with
// openbox the window covers the monitor but IsZoomed answers FALSE once the window manager has placed it.)
CCoverProbe::Step WaitForDrawnAndMaximised()
{
	return [](CCoverProbe& probe) {
		return !g_observed.timers.empty() && CoversThePrimaryMonitor(probe.m_hWnd);
	};
}

TEST_F(CoverWindowTest, CoversTheMonitorDrawsTheCaptureOnceAfterTheTimerAndRepaintsIt)
{
	const int cx = ::GetSystemMetrics(SM_CXSCREEN);
	const int cy = ::GetSystemMetrics(SM_CYSCREEN);
	const std::vector<uint32_t> picture = TestPattern(cx, cy, 21);
	const std::string strPath = RecordPicture(cx, cy, picture);

	CCoverProbe probe;
	bool bInitChecked = false;
	probe.onInit = [&](CCoverProbe& p) {
		EXPECT_STREQ(p.ImagePath(), strPath.c_str());
		EXPECT_NE(p.Bitmap(), nullptr);
		// The program maximised the window; the window manager places it afterwards.
		EXPECT_TRUE(::IsZoomed(p.m_hWnd));
		EXPECT_TRUE(::IsWindowVisible(p.m_hWnd));
		// Before the timer the window shows only the dialog's background.
		::UpdateWindow(p.m_hWnd);
		int w = 0, h = 0;
		const std::vector<uint32_t> shown = p.Pixels(w, h);
		ASSERT_FALSE(shown.empty());
		size_t nSame = 0;
		for (int y = 0; y < std::min(h, cy); ++y) {
			for (int x = 0; x < std::min(w, cx); ++x)
				nSame += shown[static_cast<size_t>(y) * w + x] == picture[static_cast<size_t>(y) * cx + x];
		}
		EXPECT_LT(nSame, static_cast<size_t>(w) * h / 100) << "the capture was drawn before the timer";
		EXPECT_TRUE(g_observed.timers.empty());
		bInitChecked = true;
	};
	probe.steps.push_back(WaitForDrawnAndMaximised());
	probe.steps.push_back([&](CCoverProbe& p) {
		// One timer, id 1, of 100 ms, without a callback, asked for; it fired once, at least 90 ms after the
		// window was made, and is gone.
		EXPECT_EQ(g_timerRequests, std::vector<TimerRequest>({{p.m_hWnd, 1, 100, nullptr}}));
		EXPECT_EQ(g_observed.timers.size(), 1u);
		EXPECT_EQ(g_observed.timers[0].first, 1u);
		EXPECT_GE(g_observed.timers[0].second - p.dwInitTick, 90u);
		EXPECT_FALSE(::KillTimer(p.m_hWnd, 1)) << "the draw timer still exists";
		EXPECT_EQ(::GetWindowLongA(p.m_hWnd, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);

		int w = 0, h = 0;
		const std::vector<uint32_t> shown = p.Pixels(w, h);
		EXPECT_EQ(w, cx);
		EXPECT_EQ(h, cy);
		EXPECT_TRUE(ShowsPictureOnBlack(shown, w, h, picture, cx, cy)) << "after the timer";

		// Something paints over the window; a repaint brings the capture back.
		HDC hDC = ::GetDC(p.m_hWnd);
		RECT rcCovered = {100, 100, 400, 300};
		HBRUSH hRed = ::CreateSolidBrush(RGB(255, 0, 0));
		::FillRect(hDC, &rcCovered, hRed);
		::DeleteObject(hRed);
		::ReleaseDC(p.m_hWnd, hDC);
		const std::vector<uint32_t> painted = p.Pixels(w, h);
		EXPECT_EQ(painted[150 * w + 150], 0xFF0000u) << "the test could not paint over the window";
		::InvalidateRect(p.m_hWnd, &rcCovered, TRUE);
		::UpdateWindow(p.m_hWnd);
		EXPECT_TRUE(ShowsPictureOnBlack(p.Pixels(w, h), w, h, picture, cx, cy)) << "after a repaint";

		// The drag icon and both window icons are the application icon.
		HICON hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
		EXPECT_NE(hIcon, nullptr);
		EXPECT_EQ(p.Icon(), hIcon);
		EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(p.m_hWnd, WM_QUERYDRAGICON, 0, 0)), hIcon);
		EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(p.m_hWnd, WM_GETICON, ICON_BIG, 0)), hIcon);
		EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(p.m_hWnd, WM_GETICON, ICON_SMALL, 0)), hIcon);
		return true;
	});
	probe.steps.push_back([](CCoverProbe& p) {
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, 'Q', 0x00100001);
		return true;
	});

	g_timerRequests.clear();
	{
		CIatPatch setTimer("USER32.dll", "SetTimer", reinterpret_cast<void*>(&RecordSetTimer));
		g_pRealSetTimer = setTimer.Original();
		EXPECT_EQ(probe.Run(), IDCANCEL);
	}
	EXPECT_TRUE(bInitChecked);
	EXPECT_EQ(probe.nCancels, 1);
	EXPECT_FALSE(probe.bTimedOut);
}

// System commands 0x0010 to 0x001F open the About box over the cover window; others do not.
TEST_F(CoverWindowTest, AboutCommandsOpenTheAboutBoxAndOthersDoNot)
{
	CCoverProbe probe;
	probe.steps.push_back(WaitForDrawnAndMaximised());
	probe.steps.push_back([](CCoverProbe& p) {
		for (UINT nID = 0x0010; nID <= 0x001F; ++nID) {
			const size_t nBefore = g_observed.dialogs.size();
			::SendMessageA(p.m_hWnd, WM_SYSCOMMAND, nID, 0);
			EXPECT_EQ(g_observed.dialogs.size(), nBefore + 1) << "command " << nID;
			EXPECT_TRUE(::IsWindow(p.m_hWnd));
			EXPECT_TRUE(::IsWindowEnabled(p.m_hWnd)) << "the cover window stays disabled after the About box";
		}
		for (const Observed::Created& created : g_observed.dialogs) {
			EXPECT_EQ(created.strCaption, "About Frostpane by Tapwright");
			EXPECT_EQ(created.hWndOwner, p.m_hWnd);
		}
		const size_t nAbout = g_observed.dialogs.size();
		::SendMessageA(p.m_hWnd, WM_SYSCOMMAND, 0x0020, 0);
		::SendMessageA(p.m_hWnd, WM_SYSCOMMAND, 0x0000, 0);
		EXPECT_EQ(g_observed.dialogs.size(), nAbout) << "a command outside 0x0010-0x001F opened a dialog";
		EXPECT_EQ(p.nCancels, 0);
		return true;
	});
	probe.steps.push_back([](CCoverProbe& p) {
		::PostMessageA(p.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
		return true;
	});
	EXPECT_EQ(probe.Run(), IDCANCEL);
	EXPECT_EQ(g_observed.dialogs.size(), 16u);
	EXPECT_EQ(probe.nCancels, 1);
}

struct ClosingInput {
	const char* pszName;
	UINT message;
	WPARAM wParam;
	LPARAM lParam;
};

class CoverWindowClosing : public CoverWindowTest, public ::testing::WithParamInterface<ClosingInput>
{};

// A left or right click or a key ends the window with IDCANCEL; a middle click, the wheel either way, mouse
// movement, Tab and each arrow do not (the dialog filter takes Tab and the arrows as navigation).
TEST_P(CoverWindowClosing, EndsTheWindowWhileOtherInputDoesNot)
{
	const ClosingInput input = GetParam();
	CCoverProbe probe;
	probe.steps.push_back(WaitForDrawnAndMaximised());
	probe.steps.push_back([](CCoverProbe& p) {
		::PostMessageA(p.m_hWnd, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(10, 10));
		::PostMessageA(p.m_hWnd, WM_MBUTTONUP, 0, MAKELPARAM(10, 10));
		::PostMessageA(p.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
		::PostMessageA(p.m_hWnd, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(20, 20));
		::PostMessageA(p.m_hWnd, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), MAKELPARAM(20, 20));
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, VK_TAB, 0x000F0001);
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, VK_LEFT, 0x014B0001);
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, VK_RIGHT, 0x014D0001);
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, VK_UP, 0x01480001);
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, VK_DOWN, 0x01500001);
		::PostMessageA(p.m_hWnd, WM_NULL, 0, 0);
		return true;
	});
	// Posted input is handled before the next timer tick.
	probe.steps.push_back([input](CCoverProbe& p) {
		EXPECT_EQ(p.nCancels, 0) << "non-closing input ended the window";
		EXPECT_TRUE(::IsWindowVisible(p.m_hWnd));
		::PostMessageA(p.m_hWnd, input.message, input.wParam, input.lParam);
		return true;
	});
	EXPECT_EQ(probe.Run(), IDCANCEL);
	EXPECT_EQ(probe.StepsDone(), probe.steps.size()) << "non-closing input ended the window";
	EXPECT_EQ(probe.nCancels, 1);
}

INSTANTIATE_TEST_SUITE_P(Inputs, CoverWindowClosing,
	::testing::Values(ClosingInput{"LeftClick", WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 4)},
		ClosingInput{"RightClick", WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 4)},
		ClosingInput{"LetterKey", WM_KEYDOWN, 'A', 0x001E0001},
		ClosingInput{"FunctionKey", WM_KEYDOWN, VK_F5, 0x003F0001},
		ClosingInput{"ShiftKey", WM_KEYDOWN, VK_SHIFT, 0x002A0001}),
	[](const ::testing::TestParamInfo<ClosingInput>& info) { return info.param.pszName; });

// A key within the first 100 ms ends the window before the capture was ever drawn.
TEST_F(CoverWindowTest, KeyBeforeTheTimerEndsTheWindowUndrawn)
{
	CCoverProbe probe;
	probe.onInit = [](CCoverProbe& p) { ::PostMessageA(p.m_hWnd, WM_KEYDOWN, 'X', 0x002D0001); };
	EXPECT_EQ(probe.Run(), IDCANCEL);
	EXPECT_EQ(probe.nCancels, 1);
	EXPECT_TRUE(g_observed.timers.empty());
}

// A capture smaller than the client area: the rest is black, after the timer and after a repaint.
TEST_F(CoverWindowTest, AreaBeyondASmallCaptureIsBlack)
{
	const int cx = 200, cy = 150;
	const std::vector<uint32_t> picture = TestPattern(cx, cy, 77);
	RecordPicture(cx, cy, picture);
	CCoverProbe probe;
	probe.steps.push_back(WaitForDrawnAndMaximised());
	probe.steps.push_back([&](CCoverProbe& p) {
		int w = 0, h = 0;
		EXPECT_TRUE(ShowsPictureOnBlack(p.Pixels(w, h), w, h, picture, cx, cy)) << "after the timer";
		::InvalidateRect(p.m_hWnd, nullptr, TRUE);
		::UpdateWindow(p.m_hWnd);
		EXPECT_TRUE(ShowsPictureOnBlack(p.Pixels(w, h), w, h, picture, cx, cy)) << "after a repaint";
		::PostMessageA(p.m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, 0);
		return true;
	});
	EXPECT_EQ(probe.Run(), IDCANCEL);
}

enum class BadSetting { Absent, Empty, Missing, Folder, Text, Truncated, Huge, Wide, Dword };

// Files handed to the platform's loader, which is not asked: it answers no bitmap.
std::vector<std::string> g_loadedFiles;

HANDLE WINAPI RecordLoadImageA(HINSTANCE, LPCSTR pszName, UINT, int, int, UINT fuLoad)
{
	if (fuLoad & LR_LOADFROMFILE)
		g_loadedFiles.emplace_back(pszName);
	return nullptr;
}

class CoverWindowBadSetting : public CoverWindowTest, public ::testing::WithParamInterface<BadSetting>
{};

// Whatever ScreenShotFilePath holds, the window opens, shows black and closes on a key.
TEST_P(CoverWindowBadSetting, ShowsBlackAndStillCloses)
{
	const std::string strFolder = m_pFolder->Path();
	std::string strValue;
	auto writeFile = [&](const std::string& strName, const std::vector<uint8_t>& bytes) {
		strValue = strFolder + strName;
		FILE* pFile = std::fopen(strValue.c_str(), "wb");
		ASSERT_NE(pFile, nullptr);
		std::fwrite(bytes.data(), 1, bytes.size(), pFile);
		std::fclose(pFile);
	};
	// The head of a BMP of nWidth x nHeight pixels at wBits, its sizes cut to their 32-bit fields.
	auto header = [](int32_t nWidth, int32_t nHeight, uint8_t wBits) {
		std::vector<uint8_t> bytes(54, 0);
		const uint32_t nImage =
			static_cast<uint32_t>((int64_t{wBits} * nWidth + 31) / 32 * 4 * static_cast<int64_t>(nHeight));
		auto put32 = [&](size_t at, uint32_t v) {
			for (int i = 0; i < 4; ++i)
				bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
		};
		bytes[0] = 'B';
		bytes[1] = 'M';
		put32(2, 54 + nImage);
		put32(10, 54);
		put32(14, 40);
		put32(18, nWidth);
		put32(22, nHeight);
		bytes[26] = 1;
		bytes[28] = wBits;
		put32(34, nImage);
		return bytes;
	};

	switch (GetParam()) {
	case BadSetting::Absent:
		break;
	case BadSetting::Empty:
		TestApp().WriteProfileString(kSection, kEntry, "");
		break;
	case BadSetting::Missing:
		TestApp().WriteProfileString(kSection, kEntry, (strFolder + "no such capture.bmp").c_str());
		break;
	case BadSetting::Folder:
		TestApp().WriteProfileString(kSection, kEntry, strFolder.substr(0, strFolder.size() - 1).c_str());
		break;
	case BadSetting::Text: {
		const std::string strText = "this is not a picture\r\n";
		writeFile("text.bmp", std::vector<uint8_t>(strText.begin(), strText.end()));
		TestApp().WriteProfileString(kSection, kEntry, strValue.c_str());
		break;
	}
	case BadSetting::Truncated: {
		// A valid 1024 x 768 24-bit file cut after its first rows.
		std::vector<uint8_t> bytes = header(1024, 768, 24);
		bytes.resize(bytes.size() + 3072 * 10, 0xFF);
		writeFile("truncated.bmp", bytes);
		TestApp().WriteProfileString(kSection, kEntry, strValue.c_str());
		break;
	}
	case BadSetting::Huge: {
		std::vector<uint8_t> bytes = header(60000, 60000, 24);
		bytes.resize(bytes.size() + 4096, 0xFF);
		writeFile("huge.bmp", bytes);
		TestApp().WriteProfileString(kSection, kEntry, strValue.c_str());
		break;
	}
	case BadSetting::Wide: {
		// 2^30 pixels of 4 bytes: each of the two rows is 4 GiB, a size no 32-bit count holds.
		std::vector<uint8_t> bytes = header(1 << 30, 2, 32);
		bytes.resize(bytes.size() + 4096, 0xFF);
		writeFile("wide.bmp", bytes);
		TestApp().WriteProfileString(kSection, kEntry, strValue.c_str());
		break;
	}
	case BadSetting::Dword: {
		ASSERT_TRUE(TestApp().WriteProfileInt(kSection, kEntry, 12345));
		break;
	}
	}

	CCoverProbe probe;
	probe.steps.push_back(WaitForDrawnAndMaximised());
	probe.steps.push_back([&](CCoverProbe& p) {
		int w = 0, h = 0;
		EXPECT_TRUE(ShowsPictureOnBlack(p.Pixels(w, h), w, h, {}, 0, 0)) << "after the timer";
		::InvalidateRect(p.m_hWnd, nullptr, TRUE);
		::UpdateWindow(p.m_hWnd);
		EXPECT_TRUE(ShowsPictureOnBlack(p.Pixels(w, h), w, h, {}, 0, 0)) << "after a repaint";
		::PostMessageA(p.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
		return true;
	});
	g_loadedFiles.clear();
	{
		CIatPatch loader("USER32.dll", "LoadImageA", reinterpret_cast<void*>(&RecordLoadImageA));
		EXPECT_EQ(probe.Run(), IDCANCEL);
	}
	// Only a whole BMP reaches the platform's loader, which reads past the end of a short one.
	EXPECT_TRUE(g_loadedFiles.empty()) << "handed to the loader: " << g_loadedFiles[0];
}

std::string BadSettingName(const ::testing::TestParamInfo<BadSetting>& info)
{
	static const char* const names[] = {
		"Absent", "Empty", "Missing", "Folder", "Text", "Truncated", "Huge", "Wide", "Dword"};
	return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Values, CoverWindowBadSetting,
	::testing::Values(BadSetting::Absent, BadSetting::Empty, BadSetting::Missing, BadSetting::Folder,
		BadSetting::Text, BadSetting::Truncated, BadSetting::Huge, BadSetting::Wide, BadSetting::Dword),
	BadSettingName);

} // namespace
