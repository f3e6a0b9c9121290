// CGdiObject and CBitmap: owners of one GDI object each, deleted with the owner.
#pragma once

#include "HandleOwner.h"

class CGdiObject : public CHandleOwner<HGDIOBJ, ::DeleteObject>
{
public:
	HGDIOBJ GetSafeHandle() const { return m_hHandle; }
	BOOL DeleteObject() { return Release(); }

	// A wrapper that does not own hObject, valid for the rest of the run; null for a null handle.
	static CGdiObject* FromHandle(HGDIOBJ hObject);
};

class CBitmap : public CGdiObject
{
public:
	operator HBITMAP() const { return static_cast<HBITMAP>(m_hHandle); }
	static CBitmap* FromHandle(HBITMAP hBitmap)
	{
		return static_cast<CBitmap*>(CGdiObject::FromHandle(hBitmap));
	}
};
