// CPoint: a POINT with constructors.
#pragma once

#include <windows.h>

class CPoint : public tagPOINT
{
public:
	CPoint() { x = 0, y = 0; }
	CPoint(int initX, int initY) { x = initX, y = initY; }
	explicit CPoint(LPARAM dwPoint)
	{
		x = static_cast<short>(LOWORD(dwPoint));
		y = static_cast<short>(HIWORD(dwPoint));
	}
};
