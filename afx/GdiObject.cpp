// CGdiObject: the table of wrappers handed out for foreign GDI objects.
#include "GdiObject.h"

CGdiObject* CGdiObject::FromHandle(HGDIOBJ hObject)
{
	// A CBitmap adds no state to CGdiObject, so one wrapper type serves every kind of object.
	static CTempHandleMap<CGdiObject, CBitmap> temps;
	return temps.FromHandle(hObject);
}
