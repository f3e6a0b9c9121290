// CDC, CClientDC and CPaintDC: owners of one device context each.
#pragma once

#include <windows.h>

#include "GdiObject.h"

class CWnd;

class CDC
{
public:
	CDC() = default;
	virtual ~CDC();
	CDC(const CDC&) = delete;
	CDC& operator=(const CDC&) = delete;

	HDC m_hDC = nullptr;

	operator HDC() const { return m_hDC; }
	HDC GetSafeHdc() const { return m_hDC; }

	// Takes ownership of hDC; FALSE when it is null.
	BOOL Attach(HDC hDC);
	HDC Detach();
	BOOL CreateCompatibleDC(CDC* pDC);
	BOOL DeleteDC();

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
