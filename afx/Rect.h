// CRect: a RECT with size accessors.
#pragma once

#include <windows.h>

class CRect : public tagRECT
{
public:
	CRect() { left = top = right = bottom = 0; }
	int Width() const { return right - left; }
	int Height() const { return bottom - top; }
	bool operator==(const RECT& rect) const { return EqualRect(this, &rect) != FALSE; }
};
