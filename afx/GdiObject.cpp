// CGdiObject: ownership of GDI objects, and the table of wrappers handed out for foreign handles.
#include "GdiObject.h"

#include "TempHandleMap.h"

CGdiObject::~CGdiObject() { DeleteObject(); }

BOOL CGdiObject::Attach(HGDIOBJ hObject)
{
	if (!hObject)
		return FALSE;
	m_hObject = hObject;
	return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
	HGDIOBJ hObject = m_hObject;
	m_hObject = nullptr;
	return hObject;
}

BOOL CGdiObject::DeleteObject()
{
	if (!m_hObject)
		return FALSE;
	return ::DeleteObject(Detach());
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ hObject)
{
	// A CBitmap adds no state to CGdiObject, so one wrapper type serves every kind of object.
	static CTempHandleMap<CGdiObject, CBitmap, HGDIOBJ, &CGdiObject::m_hObject> temps;
	return temps.FromHandle(hObject);
}
