// CDC, CClientDC and CPaintDC: one device context each, given back the way it was had.
#pragma once

#include "GdiObject.h"

class CWnd;

// A context made or attached (CreateCompatibleDC, Attach), deleted with the object.
class CDC
{
public:
	CDC() = default;
	virtual ~CDC() { CDC::Release(); }
	CDC(const CDC&) = delete;
	CDC& operator=(const CDC&) = delete;

	operator HDC() const { return m_hDC; }
	HDC GetSafeHdc() const { return m_hDC; }

	// Takes hDC; FALSE, and nothing changed, for a null one. A different context held before is given back
	// first, the way this class gives back its own, so replacing it never leaks it.
	BOOL Attach(HDC hDC);
	HDC Detach() { return std::exchange(m_hDC, nullptr); }
	BOOL DeleteDC();
	BOOL CreateCompatibleDC(CDC* pDC);

	int GetDeviceCaps(int nIndex) const;
	// Returns the bitmap the selection displaced, or null when the selection failed.
	CBitmap* SelectObject(CBitmap* pBitmap);
	BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);
	void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
	BOOL DrawIcon(int x, int y, HICON hIcon);

	HDC m_hDC = nullptr;

protected:
	// Gives the context back as this class had it; none is held after. Each class's destructor calls its own.
	virtual void Release();
};

// The client area of a window, released to the window when the object ends.
class CClientDC : public CDC
{
public:
	explicit CClientDC(CWnd* pWnd);
	~CClientDC() override { CClientDC::Release(); }

protected:
	void Release() override;

	HWND m_hWnd;
};

// BeginPaint and EndPaint around the object's life, for WM_PAINT handlers.
class CPaintDC : public CDC
{
public:
	explicit CPaintDC(CWnd* pWnd);
	~CPaintDC() override { CPaintDC::Release(); }

	PAINTSTRUCT m_ps;

protected:
	void Release() override;

	HWND m_hWnd;
};
