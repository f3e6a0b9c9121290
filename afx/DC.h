// CDC, CClientDC and CPaintDC: owners of one device context each.
#pragma once

#include "GdiObject.h"

class CWnd;

class CDC : public CHandleOwner<HDC, ::DeleteDC>
{
public:
	HDC GetSafeHdc() const { return m_hHandle; }

	BOOL CreateCompatibleDC(CDC* pDC);
	int GetDeviceCaps(int nIndex) const;
	// Returns the bitmap the selection displaced, or null when the selection failed.
	CBitmap* SelectObject(CBitmap* pBitmap);
	BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);
	void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
	BOOL DrawIcon(int x, int y, HICON hIcon);
};

// The client area of a window, released to the window when the object ends.
class CClientDC : public CDC
{
public:
	explicit CClientDC(CWnd* pWnd);
	~CClientDC() override;

protected:
	HWND m_hWnd;
};

// BeginPaint and EndPaint around the object's life, for WM_PAINT handlers.
class CPaintDC : public CDC
{
public:
	explicit CPaintDC(CWnd* pWnd);
	~CPaintDC() override;

	PAINTSTRUCT m_ps;

protected:
	HWND m_hWnd;
};
