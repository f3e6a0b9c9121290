// CPoint: a POINT with constructors.
#pragma once

#include <windows.h>

class CPoint : public tagPOINT
{
public:
	explicit CPoint(LPARAM dwPoint)
	{
		x = static_cast<short>(LOWORD(dwPoint));
		y = static_cast<short>(HIWORD(dwPoint));
	}
};
