// CMenu: menu items and the wrappers handed out for menus the program does not own.
#include "Menu.h"

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem)
{
	return ::AppendMenuA(m_hHandle, nFlags, nIDNewItem, lpszNewItem);
}

CMenu* CMenu::FromHandle(HMENU hMenu)
{
	static CTempHandleMap<CMenu> temps;
	return temps.FromHandle(hMenu);
}
