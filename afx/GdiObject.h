// CGdiObject and CBitmap: owners of one GDI object each, deleted with the owner.
#pragma once

#include <windows.h>

class CGdiObject
{
public:
	CGdiObject() = default;
	virtual ~CGdiObject();
	CGdiObject(const CGdiObject&) = delete;
	CGdiObject& operator=(const CGdiObject&) = delete;

	HGDIOBJ m_hObject = nullptr;

	operator HGDIOBJ() const { return m_hObject; }
	HGDIOBJ GetSafeHandle() const { return m_hObject; }

	// Takes ownership of hObject; FALSE, and nothing attached, when it is null.
	BOOL Attach(HGDIOBJ hObject);
	HGDIOBJ Detach();
	BOOL DeleteObject();

	// A wrapper that does not own hObject, valid for the rest of the run; null for a null handle.
	static CGdiObject* FromHandle(HGDIOBJ hObject);
};

class CBitmap : public CGdiObject
{
public:
	operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
	static CBitmap* FromHandle(HBITMAP hBitmap)
	{
		return static_cast<CBitmap*>(CGdiObject::FromHandle(hBitmap));
	}
};
