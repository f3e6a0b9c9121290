// CMenu: owner of one menu handle.
#pragma once

#include <windows.h>

class CMenu
{
public:
	CMenu() = default;
	virtual ~CMenu();
	CMenu(const CMenu&) = delete;
	CMenu& operator=(const CMenu&) = delete;

	HMENU m_hMenu = nullptr;

	operator HMENU() const { return m_hMenu; }
	HMENU GetSafeHmenu() const { return m_hMenu; }

	BOOL Attach(HMENU hMenu);
	HMENU Detach();
	BOOL DestroyMenu();

	BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = nullptr);

	// A wrapper that does not own hMenu (a system menu, say); null for a null handle.
	static CMenu* FromHandle(HMENU hMenu);
};
