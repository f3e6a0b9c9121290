// The About entry of the system menu: on a window that has a system menu, with a missing string, and on
// the cover window given a system menu.
#include "FrostpaneDlg.h"
#include "TestApp.h"

#include <gtest/gtest.h>

namespace {

struct MenuItem {
	UINT fType;
	UINT wID;
	std::string strText;
};

std::vector<MenuItem> Items(HMENU hMenu)
{
	std::vector<MenuItem> items;
	const int nCount = ::GetMenuItemCount(hMenu);
	for (int i = 0; i < nCount; ++i) {
		char szText[128] = "";
		MENUITEMINFOA mii = {};
		mii.cbSize = sizeof(mii);
		mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
		mii.dwTypeData = szText;
		mii.cch = sizeof(szText);
		::GetMenuItemInfoA(hMenu, i, TRUE, &mii);
		items.push_back({mii.fType, mii.wID, szText});
	}
	return items;
}

// A plain popup with a caption and a system menu.
class CSysMenuWindow
{
public:
	CSysMenuWindow()
	{
		m_hWnd = ::CreateWindowExA(0, "STATIC", "system menu owner", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0,
			200, 100, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
	}
	~CSysMenuWindow()
	{
		if (m_hWnd)
			::DestroyWindow(m_hWnd);
	}
	CSysMenuWindow(const CSysMenuWindow&) = delete;
	CSysMenuWindow& operator=(const CSysMenuWindow&) = delete;
	HWND m_hWnd;
};

TEST(SystemMenu, AboutEntryEndsAWindowsSystemMenu)
{
	CSysMenuWindow window;
	ASSERT_NE(window.m_hWnd, nullptr);
	HMENU hMenu = ::GetSystemMenu(window.m_hWnd, FALSE);
	ASSERT_NE(hMenu, nullptr);
	const std::vector<MenuItem> before = Items(hMenu);

	CFrostpaneDlg::AppendAboutEntry(CMenu::FromHandle(hMenu), IDS_ABOUTBOX);

	const std::vector<MenuItem> after = Items(hMenu);
	ASSERT_EQ(after.size(), before.size() + 2);
	for (size_t i = 0; i < before.size(); ++i)
		EXPECT_EQ(after[i].wID, before[i].wID) << "item " << i << " changed";
	const MenuItem& separator = after[after.size() - 2];
	const MenuItem& about = after.back();
	EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
	EXPECT_FALSE(about.fType & MFT_SEPARATOR);
	EXPECT_EQ(about.wID, 0x0010u);
	EXPECT_EQ(about.strText, "&About Frostpane...");
}

TEST(SystemMenu, MissingStringOrMenuAddsNothing)
{
	CSysMenuWindow window;
	HMENU hMenu = ::GetSystemMenu(window.m_hWnd, FALSE);
	ASSERT_NE(hMenu, nullptr);
	const int nBefore = ::GetMenuItemCount(hMenu);
	char szText[8];
	ASSERT_EQ(::LoadStringA(::GetModuleHandleA(nullptr), 102, szText, sizeof(szText)), 0)
		<< "string 102 exists";
	CFrostpaneDlg::AppendAboutEntry(CMenu::FromHandle(hMenu), 102);
	EXPECT_EQ(::GetMenuItemCount(hMenu), nBefore);
	CFrostpaneDlg::AppendAboutEntry(nullptr, IDS_ABOUTBOX);
}

// The cover window's template has no system-menu style, and Wine then gives it no system menu (Windows
// gives one to its taskbar button). With the style added before OnInitDialog runs, the menu is there for
// OnInitDialog to find, and the About entry must end it.
class CMenuProbe : public CFrostpaneDlg
{
public:
	std::vector<MenuItem> items;

protected:
	BOOL OnInitDialog() override
	{
		::SetWindowLongPtrA(m_hWnd, GWL_STYLE, ::GetWindowLongPtrA(m_hWnd, GWL_STYLE) | WS_SYSMENU);
		const BOOL bResult = CFrostpaneDlg::OnInitDialog();
		if (HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE))
			items = Items(hSysMenu);
		::PostMessageA(m_hWnd, WM_KEYDOWN, 'M', 0x00320001);
		return bResult;
	}
};

TEST(SystemMenu, CoverWindowWithASystemMenuGetsTheEntryFromOnInitDialog)
{
	TestApp().ClearProfile();
	CMenuProbe probe;
	TestApp().m_pMainWnd = &probe;
	const INT_PTR nResult = probe.DoModal();
	TestApp().m_pMainWnd = nullptr;
	EXPECT_EQ(nResult, IDCANCEL);
	ASSERT_GE(probe.items.size(), 2u) << "the window has no system menu";
	EXPECT_TRUE(probe.items[probe.items.size() - 2].fType & MFT_SEPARATOR);
	EXPECT_EQ(probe.items.back().wID, 0x0010u);
	EXPECT_EQ(probe.items.back().strText, "&About Frostpane...");
}

} // namespace
