// CRect: a RECT with size accessors.
#pragma once

#include <windows.h>

class CRect : public tagRECT
{
public:
	CRect() { left = top = right = bottom = 0; }
	CRect(int l, int t, int r, int b) { left = l, top = t, right = r, bottom = b; }
	int Width() const { return right - left; }
	int Height() const { return bottom - top; }
	operator LPRECT() { return this; }
	operator LPCRECT() const { return this; }
	bool operator==(const RECT& rect) const { return EqualRect(this, &rect) != FALSE; }
	bool operator!=(const RECT& rect) const { return !(*this == rect); }
};
