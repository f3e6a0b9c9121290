// CMenu: owner of one menu handle.
#pragma once

#include "HandleOwner.h"

class CMenu : public CHandleOwner<HMENU, ::DestroyMenu>
{
public:
	BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = nullptr);

	// A wrapper that does not own hMenu (a system menu, say), for the call at hand; null for a null handle.
	static CMenu* FromHandle(HMENU hMenu);
};
