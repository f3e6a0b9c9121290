// CMenu: menu ownership and the wrappers handed out for menus the program does not own.
#include "Menu.h"

#include "TempHandleMap.h"

CMenu::~CMenu() { DestroyMenu(); }

BOOL CMenu::Attach(HMENU hMenu)
{
	if (!hMenu)
		return FALSE;
	m_hMenu = hMenu;
	return TRUE;
}

HMENU CMenu::Detach()
{
	HMENU hMenu = m_hMenu;
	m_hMenu = nullptr;
	return hMenu;
}

BOOL CMenu::DestroyMenu()
{
	if (!m_hMenu)
		return FALSE;
	return ::DestroyMenu(Detach());
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem)
{
	return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}

CMenu* CMenu::FromHandle(HMENU hMenu)
{
	static CTempHandleMap<CMenu, CMenu, HMENU, &CMenu::m_hMenu> temps;
	return temps.FromHandle(hMenu);
}
