// CGdiObject and CBitmap: owners of one GDI object each, deleted with the owner.
#pragma once

#include "HandleOwner.h"

class CGdiObject : public CHandleOwner<HGDIOBJ, ::DeleteObject>
{
public:
	HGDIOBJ GetSafeHandle() const { return m_hHandle; }
	BOOL DeleteObject() { return m_hHandle ? ::DeleteObject(Detach()) : FALSE; }
};

class CBitmap : public CGdiObject
{
public:
	operator HBITMAP() const { return static_cast<HBITMAP>(m_hHandle); }

	// A bitmap wrapper that does not own hBitmap, for the call at hand; null for a null handle.
	static CBitmap* FromHandle(HBITMAP hBitmap);
};
