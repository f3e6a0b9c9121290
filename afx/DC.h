// CDC, CClientDC and CPaintDC: one device context each, given back the way it was had: each class's
// destructor gives back its own and detaches it, so the base's finds none. CSelectObject: a selection
// into a context undone when it ends.
#pragma once

#include "GdiObject.h"

class CWnd;

// A context made or attached (CreateCompatibleDC, Attach), deleted with the object.
class CDC
{
public:
	CDC() = default;
	virtual ~CDC() { DeleteDC(); }
	CDC(const CDC&) = delete;
	CDC& operator=(const CDC&) = delete;

	operator HDC() const { return m_hDC; }
	HDC GetSafeHdc() const { return m_hDC; }

	// Takes hDC; FALSE, and nothing changed, for a null one or while a context is held (the class library
	// asserts there). A held context goes back the way its class got it (DeleteDC, ReleaseDC, EndPaint),
	// which only that class's destructor knows, so it is never replaced; the caller keeps a refused hDC.
	BOOL Attach(HDC hDC);
	HDC Detach() { return std::exchange(m_hDC, nullptr); }
	BOOL DeleteDC();
	// FALSE, and nothing made, while a context is held.
	BOOL CreateCompatibleDC(CDC* pDC);

	int GetDeviceCaps(int nIndex) const;
	// Returns the bitmap the selection displaced, or null when the selection failed.
	CBitmap* SelectObject(CBitmap* pBitmap);
	BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);
	void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
	BOOL DrawIcon(int x, int y, HICON hIcon);

	HDC m_hDC = nullptr;
};

// The client area of a window, released to the window when the object ends; with no window, the
// whole screen, its origin at the primary monitor's top-left.
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

// Selects a bitmap into a context for the owner's life, and selects back the bitmap it displaced when the
// owner ends, so the bitmap can be deleted after it. A selection that failed puts nothing back. The
// context must outlive the owner. Copies are deleted.
class CSelectObject
{
public:
	CSelectObject(CDC* pDC, CBitmap* pBitmap);
	~CSelectObject();
	CSelectObject(const CSelectObject&) = delete;
	CSelectObject& operator=(const CSelectObject&) = delete;

	// FALSE when the selection failed.
	explicit operator bool() const { return m_hOldObject != nullptr; }

private:
	CDC* m_pDC;
	HGDIOBJ m_hOldObject;
};
