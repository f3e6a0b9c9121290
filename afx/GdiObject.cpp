// CBitmap: the wrappers handed out for bitmaps the program does not own.
#include "GdiObject.h"

CBitmap* CBitmap::FromHandle(HBITMAP hBitmap)
{
	static CTempHandleMap<CBitmap> temps;
	return temps.FromHandle(hBitmap);
}
